# Configures the provider with "wine reg add" and loads it with load_probe:
# with "zt" in the key it loads, without it the DLL refuses to load.
set(key "HKLM\\SOFTWARE\\Velmora\\Quillon")
set(failures 0)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  message(STATUS "${ARGN} -> ${rc}\n${out}")
  set(rc ${rc} PARENT_SCOPE)
endfunction()

function(expect what mode)
  run(${WINE} ${PROBE} quillon.dll ${mode})
  if(rc EQUAL 0)
    message(STATUS "PASS: ${what}")
  else()
    message(STATUS "FAIL: ${what}")
    math(EXPR n "${failures} + 1")
    set(failures ${n} PARENT_SCOPE)
  endif()
endfunction()

run(${WINE} reg delete ${key} /f)
run(${WINE} reg add ${key} /v zt /t REG_SZ /d ${CARD} /f)
expect("zt set with reg add: the provider loads" load)
run(${WINE} reg delete ${key} /v zt /f)
run(${WINE} reg add ${key} /v loglevel /t REG_SZ /d 1 /f)
expect("key without zt: the provider refuses to load" refuse)
run(${WINE} reg delete ${key} /f)

if(failures GREATER 0)
  message(FATAL_ERROR "${failures} failed")
endif()
