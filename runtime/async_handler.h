#pragma once

#include <memory>
#include <type_traits>
#include <utility>

// The completion handlers of the asynchronous copy and connect.
namespace ASync {

// What a completion calls.
template <class... Args>
class Handler {
public:
    virtual ~Handler() = default;
    virtual void Invoke(Args... args) = 0;
};

// Calls a member function of an object (nothing when the member function is null).
template <class T, class... Args>
class THandler : public Handler<Args...> {
public:
    typedef void (T::*Action)(Args...);
    THandler(Action action, T* object) : action_(action), object_(object) {}
    void Invoke(Args... args) override
    {
        if (action_)
            (object_->*action_)(std::forward<Args>(args)...);
    }

private:
    Action action_;
    T* object_;
};

// The handler an object owns: binding replaces (and deletes) the one bound before. The
// handler may delete the owner from within Invoke.
template <class... Args>
class BoundHandler {
public:
    void Bind(Handler<Args...>* handler) { handler_.reset(handler); }
    // The class is taken from the member function, so an object of a derived class may
    // bind a member of its base.
    template <class T>
    void Bind(void (T::*action)(Args...), typename std::common_type<T>::type* object)
    {
        Bind(new THandler<T, Args...>(action, object));
    }
    void UnBind() { handler_.reset(); }
    bool bound() const { return handler_ != nullptr; }

    void Invoke(Args... args)
    {
        if (handler_)
            handler_->Invoke(std::forward<Args>(args)...);
    }

private:
    std::unique_ptr<Handler<Args...>> handler_;
};

}  // namespace ASync
