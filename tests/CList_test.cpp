// CList of CString256: appending, clearing, the walking position, the node
// pool, and splitting strings into lists and joining them again.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/ListText.h"
#include "testkit/AllocationProbe.h"

namespace {

using Node = elem<CString256>;
using StringList = CList<CString256>;

// The values of the list, read by following next from head; also checks the
// list's invariants on the way.
std::vector<std::string> values(const StringList& list) {
    std::vector<std::string> out;
    const Node* last = nullptr;
    for (const Node* n = list.head; n; n = n->next) {
        out.push_back(n->value.text);
        last = n;
    }
    EXPECT_EQ(last, list.tail);
    EXPECT_EQ(std::int32_t(out.size()), list.count);
    return out;
}

using Strings = std::vector<std::string>;

StringList& parsed(StringList& list, const char* text, const char* delimiters) {
    CString256(text).parse_into_list(delimiters, list);
    return list;
}

TEST(CList, StartsEmpty) {
    StringList list;
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(list.current, nullptr);
    EXPECT_EQ(list.count, 0);
}

TEST(CList, AppendAddsCopiesAtTheTailAndSetsCurrentToTheOldTail) {
    StringList list;
    CString256 v("one");
    list.append(v);
    EXPECT_EQ(list.current, nullptr);
    EXPECT_EQ(list.head, list.tail);
    Node* first = list.tail;
    v = "two";
    list.append(v);
    EXPECT_EQ(list.current, first);
    Node* second = list.tail;
    list.append(CString256("three"));
    EXPECT_EQ(list.current, second);
    EXPECT_EQ(values(list), (Strings{"one", "two", "three"}));
    // Values are copies: changing the original changes nothing in the list.
    v = "changed";
    EXPECT_STREQ(second->value.text, "two");
    EXPECT_EQ(list.tail->next, nullptr);
}

TEST(CList, AppendStoresAtMost255Characters) {
    std::string t300(300, 'q');
    StringList list;
    list.append(CString256(t300.c_str()));
    EXPECT_EQ(std::string(list.head->value.text), t300.substr(0, 255));
}

TEST(CList, ClearThenAppendReusesTheOldTailNode) {
    StringList list;
    list.append(CString256("a"));
    list.append(CString256("b"));
    list.append(CString256("c"));
    Node* oldTail = list.tail;
    Node* oldMiddle = list.head->next;
    list.clear();
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.tail, nullptr);
    EXPECT_EQ(list.current, nullptr);
    EXPECT_EQ(list.count, 0);
    list.append(CString256("new"));
    EXPECT_EQ(list.head, oldTail);
    EXPECT_EQ(list.tail, oldTail);
    EXPECT_EQ(list.count, 1);
    EXPECT_EQ(list.head->next, nullptr);
    list.append(CString256("newer"));
    EXPECT_EQ(list.tail, oldMiddle);
    EXPECT_EQ(values(list), (Strings{"new", "newer"}));
}

TEST(CList, DestructionReturnsNodesToThePool) {
    Node* tailNode;
    {
        StringList list;
        list.append(CString256("short-lived"));
        list.append(CString256("tail"));
        tailNode = list.tail;
    }
    StringList next;
    next.append(CString256("reused"));
    EXPECT_EQ(next.head, tailNode);
}

TEST(CList, MovingHandsTheNodesOver) {
    StringList a;
    a.append(CString256("1"));
    a.append(CString256("2"));
    StringList b(std::move(a));
    EXPECT_EQ(a.head, nullptr);
    EXPECT_EQ(a.count, 0);
    EXPECT_EQ(values(b), (Strings{"1", "2"}));
    StringList c;
    c.append(CString256("old"));
    c = std::move(b);
    EXPECT_EQ(values(c), (Strings{"1", "2"}));
    EXPECT_EQ(b.count, 0);
}

constexpr std::size_t kNodeBlockBytes = Node::kNodesPerBlock * sizeof(Node);

TEST(CListPool, BlocksOf256NodesHandedOutFromTheEnd) {
    StringList drain;
    while (Node::lfree) drain.append(CString256("d"));
    std::size_t blocks = testsupport::nothrowArrayRequests(kNodeBlockBytes);

    StringList list;
    list.append(CString256("n0"));
    EXPECT_EQ(testsupport::nothrowArrayRequests(kNodeBlockBytes), blocks + 1);
    Node* node0 = list.head;
    for (int i = 1; i < 256; ++i) {
        list.append(CString256("n"));
        EXPECT_EQ(list.tail, node0 + (256 - i)) << "node " << i + 1;
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
    StringList drain;
    while (Node::lfree) drain.append(CString256("d"));
    Node* only = list.head;
    Node* savedCurrent = list.current = only;
    testsupport::failNextNothrowArrays(1);
    list.append(CString256("lost"));
    EXPECT_EQ(values(list), (Strings{"kept"}));
    EXPECT_EQ(list.tail, only);
    EXPECT_EQ(list.current, savedCurrent);
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

TEST(ParseIntoList, StrtokTokenRules) {
    StringList list;
    EXPECT_EQ(values(parsed(list, "a,b,,c", ",")), (Strings{"a", "b", "c"}));
    EXPECT_EQ(values(parsed(list, ",a,", ",")), (Strings{"a"}));
    EXPECT_EQ(values(parsed(list, ",,,", ",")), Strings{});
    EXPECT_EQ(values(parsed(list, "", ",")), Strings{});
    EXPECT_EQ(values(parsed(list, "a b", " \t")), (Strings{"a", "b"}));
    EXPECT_EQ(values(parsed(list, "\t a \t\tb  ", " \t")), (Strings{"a", "b"}));
    EXPECT_EQ(values(parsed(list, "usr/local,bin", "/,")), (Strings{"usr", "local", "bin"}));
}

TEST(ParseIntoList, EmptyOrNullDelimiterSetGivesTheWholeString) {
    StringList list;
    EXPECT_EQ(values(parsed(list, "a, b", "")), (Strings{"a, b"}));
    EXPECT_EQ(values(parsed(list, "", "")), Strings{});
    EXPECT_EQ(values(parsed(list, "whole", nullptr)), (Strings{"whole"}));
}

TEST(ParseIntoList, ReplacesTheListAndLeavesTheStringAlone) {
    StringList list;
    for (const char* s : {"old1", "old2", "old3"}) list.append(CString256(s));
    CString256 text("x:y");
    text.parse_into_list(":", list);
    EXPECT_EQ(values(list), (Strings{"x", "y"}));
    EXPECT_STREQ(text.text, "x:y");
}

TEST(ParseIntoList, DoesNotDisturbStrtokInProgress) {
    // A caller in the middle of its own strtok loop parses a string: its
    // own tokenising carries on where it was.
    char outer[] = "1 2 3";
    std::vector<std::string> outerTokens;
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

TEST(FlattenList, JoinsWithTheSeparator) {
    StringList list;
    for (const char* s : {"usr", "local", "bin"}) list.append(CString256(s));
    CString256 out("previous contents");
    out.flatten_list('/', list);
    EXPECT_STREQ(out.text, "usr/local/bin");

    StringList one;
    one.append(CString256("alone"));
    out.flatten_list('/', one);
    EXPECT_STREQ(out.text, "alone");

    StringList none;
    out.flatten_list('/', none);
    EXPECT_STREQ(out.text, "");
}

TEST(FlattenList, TruncatesLikeAppending) {
    // 252 characters, then a separator that still fits, then the rest cut
    // to 255; a separator is never added past 253 characters.
    StringList list;
    list.append(CString256(std::string(252, 'a').c_str()));
    list.append(CString256("bcdef"));
    list.append(CString256("g"));
    CString256 out;
    out.flatten_list(',', list);
    EXPECT_EQ(std::string(out.text), std::string(252, 'a') + ",bc");

    StringList exact;
    exact.append(CString256(std::string(254, 'x').c_str()));
    exact.append(CString256("y"));
    out.flatten_list(',', exact);
    EXPECT_EQ(std::string(out.text), std::string(254, 'x') + "y");
}

}  // namespace
