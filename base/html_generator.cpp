#include "base/html_generator.h"

#include <iostream>
#include <istream>
#include <memory>
#include <ostream>

namespace Stat::Html {

namespace {

// Stands for a section that no object resolves: it answers nothing.
class UnknownObject : public Object {
public:
    Value statistics_value(std::string const&) const override { return Value(); }
    Object* statistics_object(std::string const&) const override { return nullptr; }
    std::unique_ptr<IteratorBase> statistics_iterator(std::string const&) const override { return nullptr; }
};

}  // namespace

bool generateV1(Object& root, std::ostream& out, std::istream& in)
{
    GeneratorV1 generator(root, out, in);
    return generator.generate();
}

GeneratorV1::GeneratorV1(Object& root, std::ostream& out, std::istream& in)
    : out_(out), in_(in), stack_{&root}, input_(&GeneratorV1::pinput_initial), output_(&GeneratorV1::poutput_pass)
{
}

bool GeneratorV1::generate()
{
    ignore_ = 0;
    tooDeep_ = false;
    generate_body();
    return !tooDeep_;
}

// ---- one level ------------------------------------------------------------------------------

bool GeneratorV1::generate_body()
{
    while (!tooDeep_) {
        Token const token = parse();
        if (token.kind == Token::End || (token.kind == Token::Section && token.name == "end")) return true;
        if (token.kind == Token::Section)
            section(token.name);
        else
            value(token.name);
    }
    return false;
}

void GeneratorV1::section(std::string const& name)
{
    std::unique_ptr<IteratorBase> const it = stack_.back()->statistics_iterator(name);
    if (!it) {
        sub_object(name);
        return;
    }
    if (!it->valid()) {
        ignore_object();
        return;
    }
    std::istream::pos_type const body = in_.tellg();
    sub_object(it->current());
    if (!it->next()) return;
    while (it->valid() && !tooDeep_) {
        in_.clear();  // a body cut short by the end of the template left the stream at its end
        in_.seekg(body);
        sub_object(it->current());
        it->next();
    }
}

void GeneratorV1::value(std::string const& name)
{
    for (auto object = stack_.rbegin(); object != stack_.rend(); ++object) {
        Value const found = (*object)->statistics_value(name);
        if (found) {
            put(found.text);
            return;
        }
    }
    put(capture_);
}

void GeneratorV1::sub_object(Object& object)
{
    // The stack holds the root below the open sections.
    if (stack_.size() > kMaxDepth) {
        std::cerr << "html generator: template nested deeper than " << kMaxDepth << " sections" << std::endl;
        tooDeep_ = true;
        return;
    }
    stack_.push_back(&object);
    generate_body();
    stack_.pop_back();
}

void GeneratorV1::sub_object(std::string const& name)
{
    if (Object* const object = stack_.back()->statistics_object(name))
        sub_object(*object);
    else
        ignore_object();
}

void GeneratorV1::ignore_object()
{
    UnknownObject unknown;
    ++ignore_;
    sub_object(unknown);
    --ignore_;
}

// ---- the template reader ----------------------------------------------------------------------

GeneratorV1::Token GeneratorV1::parse()
{
    input_ = &GeneratorV1::pinput_initial;
    output_ = &GeneratorV1::poutput_pass;
    token_ = Token();
    complete_ = false;
    capture_.clear();
    for (;;) {
        std::istream::int_type const c = in_.get();
        if (c == std::istream::traits_type::eof()) return Token();  // a marker cut short is dropped
        char const ch = std::istream::traits_type::to_char_type(c);
        (this->*input_)(ch);
        (this->*output_)(ch);
        if (complete_) return token_;
    }
}

void GeneratorV1::next_input(State state) { input_ = state; }

void GeneratorV1::next_output(State state)
{
    if (state == output_) return;
    on_change_output_state(output_, state);
    output_ = state;
}

void GeneratorV1::next_state(State input, State output)
{
    next_input(input);
    next_output(output);
}

void GeneratorV1::on_change_output_state(State, State to)
{
    if (to == &GeneratorV1::poutput_capture) capture_.clear();
}

void GeneratorV1::copy_mode()
{
    put(capture_);
    next_state(&GeneratorV1::pinput_section_body, &GeneratorV1::poutput_pass);
}

void GeneratorV1::put(char c)
{
    if (ignore_ == 0) out_.put(c);
}

void GeneratorV1::put(std::string const& text)
{
    if (ignore_ == 0) out_ << text;
}

void GeneratorV1::poutput_pass(char c) { put(c); }

void GeneratorV1::poutput_capture(char c) { capture_ += c; }

void GeneratorV1::pinput_initial(char c)
{
    if (c == '<')
        next_state(&GeneratorV1::pinput_section_open, &GeneratorV1::poutput_capture);
    else if (c == '%')
        next_state(&GeneratorV1::pinput_value_open, &GeneratorV1::poutput_capture);
}

void GeneratorV1::pinput_section_open(char c)
{
    if (c == '!')
        next_input(&GeneratorV1::pinput_section_comment1);
    else
        copy_mode();
}

// The rest of a tag is copied without looking for markers.
void GeneratorV1::pinput_section_body(char c)
{
    if (c == '>') next_input(&GeneratorV1::pinput_initial);
}

void GeneratorV1::pinput_section_comment1(char c)
{
    if (c == '-')
        next_input(&GeneratorV1::pinput_section_comment2);
    else
        copy_mode();
}

void GeneratorV1::pinput_section_comment2(char c)
{
    if (c != '-') {
        copy_mode();
        return;
    }
    token_.name.clear();
    token_.kind = Token::Section;
    next_input(&GeneratorV1::pinput_section_obj_begin1);
}

void GeneratorV1::pinput_section_obj_begin1(char c)
{
    if (c == 'G')
        next_input(&GeneratorV1::pinput_section_obj_begin2);
    else
        copy_mode();
}

void GeneratorV1::pinput_section_obj_begin2(char c)
{
    if (c == 'E')
        next_input(&GeneratorV1::pinput_section_obj_begin3);
    else
        copy_mode();
}

void GeneratorV1::pinput_section_obj_begin3(char c)
{
    if (c == 'N')
        next_input(&GeneratorV1::pinput_section_obj_begin4);
    else
        copy_mode();
}

void GeneratorV1::pinput_section_obj_begin4(char c)
{
    if (c == '.')
        next_input(&GeneratorV1::pinput_section_obj_name);
    else
        copy_mode();
}

// A section name ends at the first "--"; a single "-" belongs to it.
void GeneratorV1::pinput_section_obj_name(char c)
{
    if (c == '-')
        next_input(&GeneratorV1::pinput_section_obj_name_end1);
    else
        token_.name += c;
}

void GeneratorV1::pinput_section_obj_name_end1(char c)
{
    if (c == '-') {
        next_input(&GeneratorV1::pinput_section_obj_name_end2);
        return;
    }
    token_.name += '-';
    token_.name += c;
    next_input(&GeneratorV1::pinput_section_obj_name);
}

// Characters between "--" and ">" are not part of the name.
void GeneratorV1::pinput_section_obj_name_end2(char c)
{
    if (c == '>') complete_ = true;
}

void GeneratorV1::pinput_value_open(char c)
{
    if (c == '%') {
        // "%%" is copied as it is: the pass state writes the second one.
        put('%');
        next_state(&GeneratorV1::pinput_initial, &GeneratorV1::poutput_pass);
        return;
    }
    token_.name.assign(1, c);
    token_.kind = Token::Value;
    next_input(&GeneratorV1::pinput_value_body);
}

void GeneratorV1::pinput_value_body(char c)
{
    if (c == '%')
        complete_ = true;
    else
        token_.name += c;
}

}  // namespace Stat::Html
