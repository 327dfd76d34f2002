#pragma once

#include <functional>

// A child object that is made on first use. A download list holds thousands of idle tasks; with
// their network managers, file and timer made only when a transfer starts, an idle task costs a
// few hundred bytes instead of several kilobytes and nothing at start-up.
//
// `make` creates the object with its Qt parent (which then owns and deletes it).
template <typename T> class LazyChild {
public:
    explicit LazyChild(std::function<T *()> make) : make(std::move(make)) {}
    LazyChild(const LazyChild &) = delete;
    LazyChild &operator=(const LazyChild &) = delete;

    T *get() const
    {
        if (!object)
            object = make();
        return object;
    }
    T *operator->() const { return get(); }
    // Whether the object was made; lets teardown code skip one that never was.
    bool made() const { return object != nullptr; }

private:
    std::function<T *()> make;
    mutable T *object = nullptr;
};
