// A shared library that loads but offers no "GetFunctionList".
extern "C" int quillonTestsNothingHere() {
    return 0;
}
