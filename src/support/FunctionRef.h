// A reference to a callable, for a call-back that runs only during the call
// it is passed to. Unlike std::function it never copies the callable (so a
// lambda with several captures costs no heap allocation); the callable must
// outlive the reference.
#ifndef QUILLON_SUPPORT_FUNCTIONREF_H
#define QUILLON_SUPPORT_FUNCTIONREF_H

#include <memory>
#include <type_traits>
#include <utility>

template <typename Signature>
class FunctionRef;

template <typename R, typename... Args>
class FunctionRef<R(Args...)> {
public:
    template <typename F, typename = typename std::enable_if<!std::is_same<
                              typename std::decay<F>::type, FunctionRef>::value>::type>
    FunctionRef(F&& f)  // NOLINT: converts implicitly, as std::function does
        : m_object(const_cast<void*>(static_cast<const void*>(std::addressof(f)))),
          m_call(&invoke<typename std::remove_reference<F>::type>) {}

    R operator()(Args... args) const { return m_call(m_object, std::forward<Args>(args)...); }

private:
    template <typename F>
    static R invoke(void* object, Args... args) {
        return (*static_cast<F*>(object))(std::forward<Args>(args)...);
    }

    void* m_object;
    R (*m_call)(void*, Args...);
};

#endif
