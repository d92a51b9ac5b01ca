// Connection-string lists: elements with and without option groups, nested and mismatched
// brackets, text after a group, and the rebuilt text.
#include "config/conn_string_list.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "config/key_value_parser.h"

namespace {

// name and options ("<null>" for an element without a group)
using Elements = std::vector<std::pair<std::string, std::string>>;

Elements Collect(a_cs_list_element_list& list) {
  Elements out;
  for (a_cs_list_element_iter it(list); !it.at_end(); it.next()) {
    out.emplace_back(it.element()->name,
                     it.element()->options ? it.element()->options : "<null>");
  }
  return out;
}

struct ListCase {
  const char* text;
  int rc;
  Elements elements;    // what the list holds afterwards, also after an error
  const char* rebuilt;  // null: not checked
};

TEST(CSList, ParsesElementsAndReportsBracketErrors) {
  const ListCase cases[] = {
      {"shmem, tcpip{host=a;port=1}",
       0,
       {{"shmem", "<null>"}, {"tcpip", "host=a;port=1"}},
       "shmem,tcpip{host=a;port=1}"},
      {"tcpip(host=(a,b)),x",
       0,
       {{"tcpip", "host=(a,b)"}, {"x", "<null>"}},
       "tcpip{host=(a,b)},x"},
      {"tls(tls_type=rsa", kParseBrackets, {}, nullptr},
      {"tls{a=1) }", kParseBrackets, {}, nullptr},
      {"tls(a=1) x", kParseTextAfterGroup, {}, nullptr},
      {"ok,tls(a=1) x", kParseTextAfterGroup, {{"ok", "<null>"}}, nullptr},
      {"a(b(c)", 0, {{"a", "b(c)"}}, "a{b(c)}"},
      {"a,,b", 0, {{"a", "<null>"}, {"", "<null>"}, {"b", "<null>"}}, "a,,b"},
      {"tls(fips=yes)", 0, {{"tls", "fips=yes"}}, "tls{fips=yes}"},
      {"x()", 0, {{"x", ""}}, "x{}"},
      {"  tls  (a=1)  ,  b  ", 0, {{"tls", "a=1"}, {"b", "<null>"}}, "tls{a=1},b"},
      {"a{x(y}z)}", kParseBrackets, {}, nullptr},
      {"a)", kParseBrackets, {}, nullptr},
      {"a,}", kParseBrackets, {{"a", "<null>"}}, nullptr},
      {"a(b)c", kParseTextAfterGroup, {}, nullptr},
      {"   ", 0, {}, nullptr},
      {"", 0, {}, nullptr},
  };
  for (const ListCase& c : cases) {
    SCOPED_TRACE(c.text);
    a_cs_list_element_list list;
    EXPECT_EQ(ParseCSListString(c.text, &list, nullptr), c.rc);
    EXPECT_EQ(Collect(list), c.elements);
    if (c.rebuilt != nullptr) {
      char* text = BuildCSListString(&list);
      ASSERT_NE(text, nullptr);
      EXPECT_STREQ(text, c.rebuilt);
      ut_free(text);
    }
    ClearCSList(&list);
    EXPECT_TRUE(list.is_empty());
  }
}

TEST(CSList, AppendsToAListAndLeavesTheTextAlone) {
  a_cs_list_element_list list;
  const char text[] = "a{k=v},b";
  ASSERT_EQ(ParseCSListString(text, &list, nullptr), 0);
  ASSERT_EQ(ParseCSListString("c", &list, nullptr), 0);
  EXPECT_STREQ(text, "a{k=v},b");
  EXPECT_EQ(Collect(list), (Elements{{"a", "k=v"}, {"b", "<null>"}, {"c", "<null>"}}));
  EXPECT_EQ(BuildCSListString(nullptr), nullptr);
  ClearCSList(&list);
  EXPECT_EQ(BuildCSListString(&list), nullptr);  // an empty list builds no text
}

TEST(CSList, OwnDelimiterEndsTheList) {
  a_cs_list_element_list list;
  ASSERT_EQ(ParseCSListString("a,b;c,d", &list, ",{()};"), 0);
  EXPECT_EQ(Collect(list), (Elements{{"a", "<null>"}, {"b;c,d", "<null>"}}));
  ClearCSList(&list);
}

TEST(CSList, DeletingAnElementUnlinksIt) {
  a_cs_list_element_list list;
  ASSERT_EQ(ParseCSListString("a,b,c", &list, nullptr), 0);
  a_cs_list_element* middle = static_cast<a_cs_list_element*>(list.first()->next);
  delete middle;
  EXPECT_EQ(Collect(list), (Elements{{"a", "<null>"}, {"c", "<null>"}}));
  ClearCSList(&list);

  a_cs_list_element copy("n", nullptr);
  EXPECT_STREQ(copy.name, "n");
  EXPECT_EQ(copy.options, nullptr);
}

}  // namespace
