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

void appendAll(StringList& list, std::initializer_list<const char*> texts) {
    for (const char* t : texts) list.append(CString256(t));
}

void drainNodePool() {
    static StringList drain;  // holds the nodes for the rest of the program
    while (Node::lfree) drain.append(CString256("d"));
}

TEST(CList, StartsEmptyAndAppendCopiesAtTheTailSettingCurrentToTheOldTail) {
    StringList list;
    EXPECT_EQ(std::tuple(list.head, list.tail, list.current, list.count),
              std::tuple(nullptr, nullptr, nullptr, 0));
    CString256 v("one");
    list.append(v);
    EXPECT_EQ(list.current, nullptr);
    Node* first = list.tail;
    v = "two";  // values are copies
    list.append(v);
    EXPECT_EQ(list.current, first);
    Node* second = list.tail;
    list.append(CString256(std::string(300, 'q').c_str()));
    EXPECT_EQ(list.current, second);
    EXPECT_EQ(values(list), (Strings{"one", "two", std::string(255, 'q')}));
}

TEST(CList, ClearThenAppendReusesTheOldTailNode) {
    StringList list;
    appendAll(list, {"a", "b", "c"});
    Node *oldTail = list.tail, *oldMiddle = list.head->next;
    list.clear();
    EXPECT_EQ(list.current, nullptr);
    EXPECT_EQ(values(list), Strings{});
    appendAll(list, {"new", "newer"});
    EXPECT_EQ(std::tuple(list.head, list.tail), std::tuple(oldTail, oldMiddle));
    EXPECT_EQ(values(list), (Strings{"new", "newer"}));
}

TEST(CList, DestructionReturnsNodesAndMovingHandsThemOver) {
    Node* tailNode;
    {
        StringList list;
        appendAll(list, {"short-lived", "tail"});
        tailNode = list.tail;
    }
    StringList next;
    next.append(CString256("reused"));
    EXPECT_EQ(next.head, tailNode);

    StringList a;
    appendAll(a, {"1", "2"});
    StringList b(std::move(a));
    EXPECT_EQ(values(a), Strings{});
    StringList c;
    c.append(CString256("old"));
    c = std::move(b);
    EXPECT_EQ(values(c), (Strings{"1", "2"}));
    EXPECT_EQ(values(b), Strings{});
}

constexpr std::size_t kNodeBlockBytes = Node::kNodesPerBlock * sizeof(Node);

TEST(CListPool, BlocksOf256NodesHandedOutFromTheEnd) {
    drainNodePool();
    const std::size_t blocks = testsupport::nothrowArrayRequests(kNodeBlockBytes);
    StringList list;
    list.append(CString256("n0"));
    for (int i = 1; i < 256; ++i) {
        list.append(CString256("n"));
        EXPECT_EQ(list.tail, list.head + (256 - i)) << "node " << i + 1;
    }
    EXPECT_EQ(Node::lfree, nullptr);
    EXPECT_EQ(testsupport::nothrowArrayRequests(kNodeBlockBytes), blocks + 1);
    list.append(CString256("257th"));
    EXPECT_EQ(testsupport::nothrowArrayRequests(kNodeBlockBytes), blocks + 2);
    EXPECT_EQ(list.count, 257);
}

TEST(CListPool, AppendLeavesTheListUnchangedWhenNoNodeCanBeObtained) {
    StringList list;
    list.append(CString256("kept"));
    drainNodePool();  // the next node needs a new block, which cannot be had
    Node* only = list.current = list.head;
    testsupport::failNextNothrowArrays(1);
    list.append(CString256("lost"));
    EXPECT_EQ(values(list), (Strings{"kept"}));
    EXPECT_EQ(list.current, only);
    list.append(CString256("later"));
    EXPECT_EQ(values(list), (Strings{"kept", "later"}));
}

#if defined(__SANITIZE_ADDRESS__)
TEST(CListPoolDeathTest, UseOfAClearedNodeIsReportedUnderAddressSanitizer) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH(
        {
            StringList list;
            list.append(CString256("gone"));
            Node* node = list.head;
            list.clear();
            volatile char c = node->value.text[0];
            (void)c;
        },
        "use-after-poison");
}
#endif

TEST(ParseIntoList, StrtokTokenRulesReplacingTheList) {
    const struct {
        const char* text;
        const char* delimiters;
        Strings expected;
    } cases[] = {{"a,b,,c", ",", {"a", "b", "c"}},
                 {",a,", ",", {"a"}},
                 {",,,", ",", {}},
                 {"", ",", {}},
                 {"\t a \t\tb  ", " \t", {"a", "b"}},
                 {"usr/local,bin", "/,", {"usr", "local", "bin"}},
                 {"a, b", "", {"a, b"}},  // an empty or null delimiter set keeps the whole string
                 {"", "", {}},
                 {"whole", nullptr, {"whole"}}};
    StringList list;
    appendAll(list, {"old1", "old2", "old3"});
    for (const auto& c : cases) {
        CString256 text(c.text);
        text.parse_into_list(c.delimiters, list);
        EXPECT_EQ(values(list), c.expected) << '"' << c.text << '"';
        EXPECT_STREQ(text.text, c.text);
    }
}

TEST(ParseIntoList, DoesNotDisturbStrtokInProgress) {
    // Parsing inside a caller's own strtok loop: its tokenising carries on.
    char outer[] = "1 2 3";
    Strings outerTokens;
    StringList list;
    for (char* t = std::strtok(outer, " "); t; t = std::strtok(nullptr, " ")) {
        outerTokens.push_back(t);
        CString256("p;q").parse_into_list(";", list);
    }
    EXPECT_EQ(outerTokens, (Strings{"1", "2", "3"}));
    EXPECT_EQ(values(list), (Strings{"p", "q"}));
}

TEST(ParseIntoList, StringThatIsAValueOfTheListItself) {
    StringList list;
    list.append(CString256("a-b-c"));
    list.head->value.parse_into_list("-", list);
    EXPECT_EQ(values(list), (Strings{"a", "b", "c"}));
}

TEST(FlattenList, JoinsWithTheSeparatorAndTruncatesLikeAppending) {
    // A separator still fits after 252 characters; none is added past 253.
    const struct {
        std::vector<std::string> items;
        std::string expected;
    } cases[] = {{{"usr", "local", "bin"}, "usr/local/bin"},
                 {{"alone"}, "alone"},
                 {{}, ""},
                 {{std::string(252, 'a'), "bcdef", "g"}, std::string(252, 'a') + "/bc"},
                 {{std::string(254, 'x'), "y"}, std::string(254, 'x') + "y"}};
    CString256 out("previous contents");
    for (const auto& c : cases) {
        StringList list;
        for (const auto& item : c.items) list.append(CString256(item.c_str()));
        out.flatten_list('/', list);
        EXPECT_EQ(std::string(out.text), c.expected);
    }
}

}  // namespace
