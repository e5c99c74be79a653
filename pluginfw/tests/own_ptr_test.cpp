// Owning containers: what they delete, and that nothing is deleted twice (copies are impossible, a
// pointer held twice is deleted once on remove, a moved-from container owns nothing).
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>

#include "own_ptr.h"

namespace {

// Counts destructor calls per object id; polymorphic, as the registry items are.
struct Counted {
    explicit Counted(int id) : id(id) {}
    virtual ~Counted() { ++deletions[id]; }
    int id;
    static std::map<int, int> deletions;
};
std::map<int, int> Counted::deletions;

struct Derived : Counted {
    explicit Derived(int id, bool* flag) : Counted(id), flag(flag) {}
    ~Derived() override { *flag = true; }
    bool* flag;
};

static_assert(!std::is_copy_constructible_v<OwnPtrVector<Counted*>>);
static_assert(!std::is_copy_assignable_v<OwnPtrVector<Counted*>>);
static_assert(!std::is_copy_constructible_v<OwnPtrList<Counted*>>);
static_assert(!std::is_copy_assignable_v<OwnPtrList<Counted*>>);
static_assert(!std::is_copy_constructible_v<OwnPtrMap<int, Counted*>>);
static_assert(!std::is_copy_assignable_v<OwnPtrMap<int, Counted*>>);
static_assert(std::is_nothrow_move_constructible_v<OwnPtrVector<Counted*>>);
static_assert(std::is_nothrow_move_assignable_v<OwnPtrList<Counted*>>);
static_assert(std::is_nothrow_move_constructible_v<OwnPtrMap<int, Counted*>>);
static_assert(std::has_virtual_destructor_v<OwnPtrVector<Counted*>>);

class OwnPtr : public testing::Test {
protected:
    void SetUp() override { Counted::deletions.clear(); }
    static int deleted(int id) { return Counted::deletions.count(id) ? Counted::deletions[id] : 0; }
    static std::set<int> deletedIds()
    {
        std::set<int> ids;
        for (auto [id, n] : Counted::deletions) {
            EXPECT_EQ(n, 1) << "object " << id << " deleted " << n << " times";
            ids.insert(id);
        }
        return ids;
    }
};

TEST_F(OwnPtr, VectorDeletesOnlyNonNullSlots)
{
    {
        OwnPtrVector<Counted*> v(4);
        EXPECT_EQ(v.size(), 4u);
        v[1] = new Counted(1);
        v[3] = new Counted(3);
    }
    EXPECT_EQ(deletedIds(), (std::set<int>{1, 3}));

    OwnPtrVector<Counted*> v;
    for (int id = 10; id < 15; ++id)
        v.push_back(new Counted(id));
    v.reserve(64);
    v.clear();
    EXPECT_TRUE(v.empty());
    EXPECT_GE(v.capacity(), 64u);
    EXPECT_EQ(deletedIds(), (std::set<int>{1, 3, 10, 11, 12, 13, 14}));
}

TEST_F(OwnPtr, VectorEraseDeletesTheRange)
{
    OwnPtrVector<Counted*> v;
    for (int id = 0; id < 5; ++id)
        v.push_back(new Counted(id));
    auto it = v.erase(v.begin() + 1, v.begin() + 3);
    EXPECT_EQ(it, v.begin() + 1);
    ASSERT_EQ(v.size(), 3u);
    EXPECT_EQ(v[0]->id, 0);
    EXPECT_EQ(v[1]->id, 3);
    EXPECT_EQ(deletedIds(), (std::set<int>{1, 2}));

    // Taking an element out hands it back to the caller.
    Counted* last = v.back();
    v.pop_back();
    EXPECT_EQ(deleted(4), 0);
    delete last;
}

TEST_F(OwnPtr, VectorRangeAndLengthErrors)
{
    OwnPtrVector<Counted*> empty;
    EXPECT_THROW(empty.at(0), std::out_of_range);
    OwnPtrVector<Counted*> v(3);
    EXPECT_NO_THROW(v.at(2));
    EXPECT_THROW(v.at(v.size()), std::out_of_range);
    EXPECT_THROW(OwnPtrVector<Counted*>(v.max_size() + 1), std::length_error);
}

TEST_F(OwnPtr, ListRemoveDeletesOnce)
{
    OwnPtrList<Counted*> list;
    auto* a = new Counted(1);
    auto* b = new Counted(2);
    auto* c = new Counted(3);
    list.push_back(a);
    list.push_back(b);
    list.push_back(c);
    list.push_back(b); // held twice

    Counted outsider(99);
    EXPECT_EQ(list.remove(&outsider), 0u);
    EXPECT_EQ(list.size(), 4u);

    EXPECT_EQ(list.remove(b), 2u);
    EXPECT_EQ(deleted(2), 1);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.front(), a);
    EXPECT_EQ(list.back(), c);

    list.clear();
    EXPECT_TRUE(list.empty());
    EXPECT_EQ(deletedIds(), (std::set<int>{1, 2, 3}));
}

TEST_F(OwnPtr, DeletesThroughVirtualDestructor)
{
    bool derivedGone = false;
    {
        OwnPtrList<Counted*> list;
        list.push_back(new Derived(7, &derivedGone));
    }
    EXPECT_TRUE(derivedGone);
    EXPECT_EQ(deleted(7), 1);
}

TEST_F(OwnPtr, MapDeletesMappedValues)
{
    {
        OwnPtrMap<std::string, Counted*> map;
        map["a"] = new Counted(1);
        map["b"] = new Counted(2);
        map.clear();
        EXPECT_TRUE(map.empty());
        EXPECT_EQ(deletedIds(), (std::set<int>{1, 2}));
        map["c"] = new Counted(3);
    }
    EXPECT_EQ(deletedIds(), (std::set<int>{1, 2, 3}));
}

TEST_F(OwnPtr, MoveHandsOwnershipOver)
{
    OwnPtrVector<Counted*> source;
    source.push_back(new Counted(1));
    OwnPtrList<Counted*> listSource;
    listSource.push_back(new Counted(2));
    OwnPtrMap<int, Counted*> mapSource;
    mapSource[3] = new Counted(3);
    {
        OwnPtrVector<Counted*> vector(std::move(source));
        OwnPtrList<Counted*> list;
        list.push_back(new Counted(20));
        list = std::move(listSource); // what the target held is deleted
        EXPECT_EQ(deletedIds(), std::set<int>{20});
        OwnPtrMap<int, Counted*> map(std::move(mapSource));

        EXPECT_TRUE(source.empty());
        EXPECT_TRUE(listSource.empty());
        EXPECT_TRUE(mapSource.empty());
        ASSERT_EQ(vector.size(), 1u);
        EXPECT_EQ(vector[0]->id, 1);
        EXPECT_EQ(list.front()->id, 2);
        EXPECT_EQ(map.at(3)->id, 3);
    }
    EXPECT_EQ(deletedIds(), (std::set<int>{1, 2, 3, 20}));
    source.clear();
    listSource.clear();
    mapSource.clear();
    EXPECT_EQ(deletedIds(), (std::set<int>{1, 2, 3, 20}));
}

} // namespace
