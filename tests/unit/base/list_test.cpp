#include "utils/base/list.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "utils/base/refobj.h"

namespace {

struct Item : c_utils_link {
  explicit Item(std::string name) : name(std::move(name)) {}
  std::string name;
};

std::string Forward(c_utils_list_base& list) {
  std::string out;
  for (c_utils_iter<Item> it(list); !it.at_end(); it.next()) out += it.element()->name;
  return out;
}

std::string Backward(c_utils_list_base& list) {
  std::string out;
  c_utils_iter<Item> it(list);
  for (it.reset_last(); !it.at_end(); it.prev()) out += it.element()->name;
  return out;
}

TEST(ListTest, KeepsInsertionOrderBothWays) {
  c_utils_list<Item> list;
  Item a("a"), b("b"), c("c"), z("z");
  list.append(&a);
  list.append(&b);
  list.append(&c);
  EXPECT_EQ(Forward(list), "abc");
  EXPECT_EQ(Backward(list), "cba");

  list.prepend(&z);
  EXPECT_EQ(list.first_element(), &z);
  EXPECT_EQ(list.last_element(), &c);
  z.unlink();
  Item x("x");
  c_utils_list_base::insert_before(&c, &x);
  EXPECT_EQ(Forward(list), "abxc");
}

TEST(ListTest, EmptyListIteratorIsAtItsEndAtOnce) {
  c_utils_list<Item> list;
  c_utils_iter<Item> it(list);
  EXPECT_TRUE(list.is_empty());
  EXPECT_TRUE(it.at_end());
  EXPECT_EQ(it.element(), nullptr);
  EXPECT_EQ(list.first_element(), nullptr);
}

TEST(ListTest, DestroyedElementLeavesItsListByItself) {
  c_utils_list<Item> list;
  Item a("a"), c("c");
  auto* b = new Item("b");  // class allocation through the library's policy
  list.append(&a);
  list.append(b);
  list.append(&c);
  delete b;
  EXPECT_EQ(Forward(list), "ac");
  EXPECT_EQ(Backward(list), "ca");

  {
    Item detached("d");  // destroying a link that is in no list touches nothing
    detached.unlink();   // and unlinking it twice is harmless
    EXPECT_FALSE(detached.is_linked());
  }
  EXPECT_EQ(Forward(list), "ac");

  // Deleting while walking: step past the element first.
  list.append(new Item("x"));
  list.append(new Item("y"));
  for (c_utils_iter<Item> it(list); !it.at_end();) {
    Item* item = it.element();
    it.next();
    if (item != &a && item != &c) delete item;
  }
  EXPECT_EQ(Forward(list), "ac");
}

TEST(ListTest, DestroyedListLeavesItsElementsLinkedToOneAnother) {
  auto* list = new c_utils_list<Item>;
  auto* a = new Item("a");
  auto* b = new Item("b");
  list->append(a);
  list->append(b);
  delete list;
  // The ring lost its head only; each element still leaves it cleanly.
  EXPECT_EQ(a->next, b);
  EXPECT_EQ(b->next, a);
  delete a;
  EXPECT_FALSE(b->is_linked());
  delete b;
}

struct Ranked : c_utils_ord_link {
  Ranked(int key, std::string name) : key(key), name(std::move(name)) {}
  int compare(c_utils_ord_link* other) override {
    return key - static_cast<Ranked*>(other)->key;
  }
  int key;
  std::string name;
};

TEST(OrderedListTest, SortsStablyNewestEqualLast) {
  struct Case {
    std::vector<std::pair<int, const char*>> inserts;
    const char* expected;
  } cases[] = {
      {{{2, "2a"}, {1, "1"}, {2, "2b"}, {3, "3"}}, "1 2a 2b 3 "},
      {{{5, "5"}}, "5 "},
      {{{3, "3"}, {2, "2"}, {1, "1"}}, "1 2 3 "},
      {{{1, "a"}, {1, "b"}, {1, "c"}}, "a b c "},
      {{{1, "1"}, {9, "9"}, {5, "5"}, {0, "0"}}, "0 1 5 9 "},
  };
  for (const Case& c : cases) {
    c_utils_ord_list_base list;
    std::vector<std::unique_ptr<Ranked>> owned;
    for (auto& [key, name] : c.inserts) {
      owned.push_back(std::make_unique<Ranked>(key, name));
      list.insert(owned.back().get());
    }
    std::string order;
    for (c_utils_ord_iter_base it(list); !it.at_end(); it.next())
      order += static_cast<Ranked*>(it.current)->name + " ";
    EXPECT_EQ(order, c.expected);
  }
}

std::atomic<int> g_destroyed{0};

struct Counted : c_utils_refobj {
  ~Counted() override { g_destroyed.fetch_add(1); }
};

struct CountedNoBase : c_utils_refobj_no_base {
  ~CountedNoBase() override { g_destroyed.fetch_add(1); }
};

TEST(RefObjTest, DeletedAtTheReleaseThatReachesZero) {
  g_destroyed = 0;
  auto* object = new Counted;
  EXPECT_EQ(object->ref_count(), 1u);
  EXPECT_EQ(object->add_ref(), 2u);
  EXPECT_EQ(object->release(), 1u);
  EXPECT_EQ(g_destroyed.load(), 0);
  EXPECT_EQ(object->release(), 0u);
  EXPECT_EQ(g_destroyed.load(), 1);

  auto* plain = new CountedNoBase;
  EXPECT_EQ(plain->release(), 0u);
  EXPECT_EQ(g_destroyed.load(), 2);
}

}  // namespace
