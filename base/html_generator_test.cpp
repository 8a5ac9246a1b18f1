// Statistics pages: templates filled from a tree of statistics objects.

#include "base/html_generator.h"

#include "tests/capture.h"

#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include <gtest/gtest.h>

namespace {

// A statistics object made of maps: values, sub-objects and lists of sub-objects by name.
struct Node : Stat::Object {
    std::map<std::string, std::string> values;
    std::map<std::string, std::shared_ptr<Node>> objects;
    std::map<std::string, std::vector<std::shared_ptr<Node>>> lists;

    Stat::Value statistics_value(std::string const& name) const override
    {
        auto const found = values.find(name);
        return found == values.end() ? Stat::Value() : Stat::Value(found->second);
    }
    Stat::Object* statistics_object(std::string const& name) const override
    {
        auto const found = objects.find(name);
        return found == objects.end() ? nullptr : found->second.get();
    }
    std::unique_ptr<Stat::IteratorBase> statistics_iterator(std::string const& name) const override;
};

class NodeIterator : public Stat::IteratorBase {
public:
    explicit NodeIterator(std::vector<std::shared_ptr<Node>> const& nodes) : nodes_(nodes) {}
    bool valid() const override { return at_ < nodes_.size(); }
    bool next() override { return ++at_ < nodes_.size(); }
    Stat::Object& current() override { return *nodes_[at_]; }

private:
    std::vector<std::shared_ptr<Node>> const& nodes_;
    std::size_t at_ = 0;
};

std::unique_ptr<Stat::IteratorBase> Node::statistics_iterator(std::string const& name) const
{
    auto const found = lists.find(name);
    if (found == lists.end()) return nullptr;
    return std::make_unique<NodeIterator>(found->second);
}

std::shared_ptr<Node> node(std::map<std::string, std::string> values)
{
    auto made = std::make_shared<Node>();
    made->values = std::move(values);
    return made;
}

TEST(HtmlGenerator, FillsTemplates)
{
    // The root has x = 7, a sub-object s (y = 8), a sub-object "a-b", the list items of
    // three elements (n = 1, 2, 3) and the empty list none.
    Node root;
    root.values = {{"x", "7"}};
    root.objects = {{"s", node({{"y", "8"}})}, {"a-b", node({{"y", "9"}})}};
    root.lists = {{"items", {node({{"n", "1"}}), node({{"n", "2"}}), node({{"n", "3"}})}}, {"none", {}}};
    Node bare;

    struct Case {
        Node* root;
        char const* page;
        char const* expected;
    };
    Case const cases[] = {
        {&root, "<p class=\"a\">plain <!-- note --> text</p>", "<p class=\"a\">plain <!-- note --> text</p>"},
        {&root, "<b>%x%</b>", "<b>7</b>"},
        {&bare, "<b>%x%</b>", "<b>%x%</b>"},
        {&root, "<a href=\"%x%\">link</a>", "<a href=\"%x%\">link</a>"},
        {&root, "<!--GEN.s-->A<!--GEN.end-->B", "AB"},
        {&bare, "<!--GEN.s-->A<!--GEN.end-->B", "B"},
        {&root, "<!--GEN.items-->%n%,<!--GEN.end-->", "1,2,3,"},
        {&root, "<!--GEN.none-->X<!--GEN.end-->Y", "Y"},
        {&root, "<!--GEN.s-->%y% %x%<!--GEN.end-->", "8 7"},
        {&root, "<!--GEN.a-b-->%y%<!--GEN.end-->", "9"},
        {&root, "<!--GEN.missing--><!--GEN.s-->%x%<!--GEN.end-->C<!--GEN.end-->D", "D"},
        {&root, "50%", "50"},
        {&root, "5% of %x%", "5% of %x"},
        {&root, "100%% sure", "100%% sure"},
        {&root, "A<!--GEN.end-->B", "A"},
        {&root, "<!--GEN.items-->%n%", "123"},
    };
    for (Case const& c : cases) {
        std::istringstream in(c.page);
        std::ostringstream out;
        EXPECT_TRUE(Stat::Html::generateV1(*c.root, out, in));
        EXPECT_EQ(c.expected, out.str()) << c.page;
    }
}

TEST(HtmlGenerator, RefusesTemplatesNestedTooDeep)
{
    // Its sub-object of every name is itself.
    struct Recursive : Node {
        Stat::Object* statistics_object(std::string const&) const override { return const_cast<Recursive*>(this); }
    } root;
    auto nested = [](std::size_t depth, bool closed) {
        std::string page;
        for (std::size_t i = 0; i < depth; ++i) page += "<!--GEN.s-->";
        page += "x";
        if (closed)
            for (std::size_t i = 0; i < depth; ++i) page += "<!--GEN.end-->";
        return page + "y";
    };
    struct Case {
        std::size_t depth;
        bool closed;
        bool generated;
    } const cases[] = {
        {Stat::Html::GeneratorV1::kMaxDepth, true, true},
        {Stat::Html::GeneratorV1::kMaxDepth + 1, true, false},
        {50000, false, false},
    };
    for (Case const& c : cases) {
        std::istringstream in(nested(c.depth, c.closed));
        std::ostringstream out;
        testsupport::CaptureStream err(std::cerr);
        EXPECT_EQ(c.generated, Stat::Html::generateV1(root, out, in)) << c.depth;
        EXPECT_EQ(c.generated ? "xy" : "", out.str()) << c.depth;
        EXPECT_EQ(c.generated ? "" : "html generator: template nested deeper than 64 sections\n", err.text()) << c.depth;
    }
}

}  // namespace
