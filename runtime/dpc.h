#pragma once

#include <memory>
#include <type_traits>

// The callback of a deferred call.
class DpcHandler {
public:
    virtual void Invoke() = 0;
    virtual ~DpcHandler() = default;
};

// A plain function.
class DpcHandler1 : public DpcHandler {
public:
    explicit DpcHandler1(void (*fn)()) : fn_(fn) {}
    void Invoke() override
    {
        if (fn_)
            fn_();
    }

private:
    void (*fn_)();
};

// A member function of an object.
template <class T>
class TDpcHandler : public DpcHandler {
public:
    TDpcHandler(T* object, void (T::*action)()) : object_(object), action_(action) {}
    void Invoke() override
    {
        if (action_)
            (object_->*action_)();
    }

private:
    T* object_;
    void (T::*action_)();
};

// A deferred call: while active, the loop runs it twice on every turn, once after the due
// timers and again just before it waits. Active calls run in ascending order of their
// addresses; one activated during a pass first runs in the next pass, one deactivated
// during a pass does not run later in it.
class Dpc {
public:
    Dpc() = default;
    Dpc(Dpc const&) = delete;
    Dpc& operator=(Dpc const&) = delete;
    ~Dpc() { Deactivate(); }

    // Rebinding keeps the call active or inactive as it was.
    void Bind(DpcHandler* handler) { handler_.reset(handler); }
    void Bind(void (*fn)()) { Bind(new DpcHandler1(fn)); }
    // The class is taken from the member function; the object may be of a derived class.
    template <class T>
    void Bind(typename std::common_type<T>::type* object, void (T::*action)())
    {
        Bind(new TDpcHandler<T>(object, action));
    }

    void Activate();
    void Deactivate();
    bool IsActive() const { return active_; }
    void Invoke()
    {
        if (handler_)
            handler_->Invoke();
    }

private:
    std::unique_ptr<DpcHandler> handler_;
    bool active_ = false;
};
