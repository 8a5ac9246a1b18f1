#pragma once

#include <cstddef>
#include <iosfwd>
#include <list>
#include <string>

#include "base/stat_object.h"

namespace Stat::Html {

// Fills an HTML template with the statistics of an object tree.
//
// Markers in running text (not inside a tag): "<!--GEN.name-->" opens a section for the
// current object's iterator of that name (the body is repeated once per element, each time
// with the element as the current object), else its sub-object of that name (the body once),
// else nothing (the body is read and dropped); "<!--GEN.end-->" closes the innermost section,
// and at the outermost level ends the page. "%name%" is replaced by the value of the first
// object from the current one out to the root that has it, or stays as it is. Everything else
// is copied. Repeating a section rewinds the template, which must support positioning.
//
// Each open section is a level of recursion: a template that opens more than kMaxDepth
// sections inside one another is refused (a line on the error stream), and the page ends
// where the level beyond the limit opens.
class GeneratorV1 {
public:
    static constexpr std::size_t kMaxDepth = 64;

    GeneratorV1(Object& root, std::ostream& out, std::istream& in);

    // The page; true once the template is used up or closed, false when it is nested too deep.
    bool generate();

private:
    struct Token {
        enum Type { Section = 0, Value = 1, End = 2 };
        Type kind = End;
        std::string name;
    };
    using State = void (GeneratorV1::*)(char);

    bool generate_body();
    // Reads up to the end of the next marker (or of the template), copying plain text.
    Token parse();
    void section(std::string const& name);
    void value(std::string const& name);

    void sub_object(Object& object);
    void sub_object(std::string const& name);
    void ignore_object();

    void next_input(State state);
    void next_output(State state);
    void next_state(State input, State output);
    void on_change_output_state(State from, State to);
    // Writes the captured text, then passes the current character on.
    void copy_mode();

    void put(char c);
    void put(std::string const& text);

    void pinput_initial(char c);
    void pinput_section_open(char c);
    void pinput_section_body(char c);
    void pinput_section_comment1(char c);
    void pinput_section_comment2(char c);
    void pinput_section_obj_begin1(char c);
    void pinput_section_obj_begin2(char c);
    void pinput_section_obj_begin3(char c);
    void pinput_section_obj_begin4(char c);
    void pinput_section_obj_name(char c);
    void pinput_section_obj_name_end1(char c);
    void pinput_section_obj_name_end2(char c);
    void pinput_value_open(char c);
    void pinput_value_body(char c);
    void poutput_pass(char c);
    void poutput_capture(char c);

    std::ostream& out_;
    std::istream& in_;
    std::list<Object*> stack_;  // the root first, the current object last
    int ignore_ = 0;            // output is written only at 0
    bool tooDeep_ = false;      // a section beyond kMaxDepth ended the page
    State input_;
    State output_;
    Token token_;
    bool complete_ = false;
    std::string capture_;  // the text of the marker being read
};

// Builds a generator over the three and runs it: true when the page was generated.
bool generateV1(Object& root, std::ostream& out, std::istream& in);

}  // namespace Stat::Html
