// CList of CString256: appending, clearing, the walking position, the node
// pool, and splitting strings into lists and joining them again.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "support/ListText.h"
#include "testkit/AllocationProbe.h"

namespace {

using Node = elem<CString256>;
using StringList = CList<CString256>;
using Strings = std::vector<std::string>;

// The values of the list, read by following next from head; also checks the
// list's invariants on the way.
Strings values(const StringList& list) {
    Strings out;
    const Node* last = nullptr;
    for (const Node* n = list.head; n; n = n->next) {
        out.push_back(n->value.text);
        last = n;
    }
    EXPECT_EQ(last, list.tail);
    EXPECT_EQ(std::int32_t(out.size()), list.count);
    return out;
}

void appendAll(StringList& list, const Strings& texts) {
    for (const auto& t : texts) list.append(CString256(t.c_str()));
}

TEST(CList, AppendClearDestructionAndMoving) {
    StringList list;
    CString256 v("a");
    list.append(v);
    EXPECT_EQ(list.current, nullptr);  // append sets current to the old tail
    Node* first = list.tail;
    v = "b";  // values are copies
    list.append(v);
    EXPECT_EQ(list.current, first);
    EXPECT_EQ(values(list), (Strings{"a", "b"}));
    Node* oldTail = list.tail;
    list.clear();
    EXPECT_EQ(list.current, nullptr);
    EXPECT_EQ(values(list), Strings{});
    // Cleared and destroyed lists give their nodes back: the last one given
    // back is the next one handed out.
    appendAll(list, {"new"});
    EXPECT_EQ(list.head, oldTail);
    { StringList gone(std::move(list)); }
    EXPECT_EQ(values(list), Strings{});
    StringList c;
    c.append(CString256("reused"));
    EXPECT_EQ(c.head, oldTail);
    StringList b;
    appendAll(b, {"1", "2"});
    c = std::move(b);
    EXPECT_EQ(values(c), (Strings{"1", "2"}));
    EXPECT_EQ(values(b), Strings{});
}

TEST(CListPool, BlocksOf256NodesAndAnUnchangedListWhenNoneCanBeObtained) {
    static StringList drain;  // holds the free nodes for the rest of the program
    while (Node::lfree) drain.append(CString256("d"));
    StringList list;  // one new block: the node handed out and 255 free ones
    for (list.append(CString256("n")); Node::lfree;) list.append(CString256("n"));
    EXPECT_EQ(list.count, 256);
    Node* last = list.current = list.tail;
    testsupport::failNextNothrowArrays(1);
    list.append(CString256("lost"));
    EXPECT_EQ(list.count, 256);
    EXPECT_EQ(std::tuple(list.tail, list.current, last->next), std::tuple(last, last, nullptr));
    list.append(CString256("257th"));  // from a new block
    EXPECT_EQ(values(list).back(), "257th");
}

TEST(ListText, ParsingFollowsStrtokTokenRulesReplacingTheListAndFlatteningJoins) {
    const struct {
        const char* text;
        const char* delimiters;
        Strings expected;
    } parses[] = {{"a,b,,c", ",", {"a", "b", "c"}},
                  {",a,", ",", {"a"}},
                  {",,,", ",", {}},
                  {"\t a \t\tb  ", " \t", {"a", "b"}},
                  // An empty or null delimiter set keeps the whole string.
                  {"a, b", "", {"a, b"}},
                  {"whole", nullptr, {"whole"}}};
    StringList list;
    appendAll(list, {"old1", "old2", "old3"});
    for (const auto& c : parses) {
        CString256 text(c.text);
        text.parse_into_list(c.delimiters, list);
        EXPECT_EQ(values(list), c.expected) << '"' << c.text << '"';
        EXPECT_STREQ(text.text, c.text);
    }
    // A value of the list itself, parsed inside a caller's own strtok loop.
    char outer[] = "1 2";
    Strings outerTokens;
    for (char* t = std::strtok(outer, " "); t; t = std::strtok(nullptr, " ")) {
        outerTokens.push_back(t);
        list.clear();
        list.append(CString256("p;q"));
        list.head->value.parse_into_list(";", list);
    }
    EXPECT_EQ(outerTokens, (Strings{"1", "2"}));
    EXPECT_EQ(values(list), (Strings{"p", "q"}));

    // Flattening joins with the separator and truncates like appending: a
    // separator still fits after 252 characters; none is added past 253.
    const struct {
        Strings items;
        std::string expected;
    } joins[] = {{{"usr", "local", "bin"}, "usr/local/bin"},
                 {{}, ""},
                 {{std::string(252, 'a'), "bcdef", "g"}, std::string(252, 'a') + "/bc"},
                 {{std::string(254, 'x'), "y"}, std::string(254, 'x') + "y"}};
    CString256 out("previous contents");
    for (const auto& c : joins) {
        StringList joined;
        appendAll(joined, c.items);
        out.flatten_list('/', joined);
        EXPECT_EQ(std::string(out.text), c.expected);
    }
}

}  // namespace
