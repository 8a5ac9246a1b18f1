#pragma once

#include <memory>
#include <string>

// Statistics sources for the HTML template generator (base/html_generator.h): a component
// exposes its statistics as a tree of objects with named values, named sub-objects and
// named iterators over sub-objects.
namespace Stat {

// The answer to a value lookup: set with its text, or not set.
struct Value {
    bool set = false;
    std::string text;

    Value() = default;
    explicit Value(std::string value) : set(true), text(std::move(value)) {}

    explicit operator bool() const { return set; }
};

class Object;

// Walks the sub-objects of one name.
class IteratorBase {
public:
    virtual ~IteratorBase() = default;

    // It stands on an element.
    virtual bool valid() const = 0;
    // Moves to the following element; false when there is none.
    virtual bool next() = 0;
    // The element it stands on (only while valid).
    virtual Object& current() = 0;
};

class Object {
public:
    virtual ~Object() = default;

    // The value of the name; not set when the object has none.
    virtual Value statistics_value(std::string const& name) const = 0;
    // The sub-object of the name; null when there is none.
    virtual Object* statistics_object(std::string const& name) const = 0;
    // A new iterator over the sub-objects of the name; null when there are none of that name.
    virtual std::unique_ptr<IteratorBase> statistics_iterator(std::string const& name) const = 0;
};

}  // namespace Stat
