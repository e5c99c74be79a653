// Owning containers: standard vector, list and map of pointers that delete the pointed-to objects when
// they are cleared or destroyed. Move-only, so that two containers never own (and delete) the same objects.
//
// Only the operations listed on each class delete; every other operation is the standard container's
// and hands ownership in (push_back, insert, operator[] assignment) or leaves it with the caller
// (pop_back, a list's or map's plain erase, resize). An object may be held by one owning container
// at most.
#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <type_traits>
#include <utility>
#include <vector>

namespace ownptr_detail {

template <typename P>
void deleteOwned(P p)
{
    static_assert(std::is_pointer_v<P>, "owning containers hold plain pointers");
    using T = std::remove_pointer_t<P>;
    static_assert(sizeof(T) > 0, "the element type must be complete where the container deletes");
    delete p;
}

} // namespace ownptr_detail

// Vector of P (a T*), owning its non-null elements. Null slots are allowed and skipped when deleting.
template <typename P>
class OwnPtrVector : public std::vector<P> {
    static_assert(std::is_pointer_v<P>, "OwnPtrVector<T*> holds plain pointers");
    using Base = std::vector<P>;

public:
    using typename Base::const_iterator;
    using typename Base::iterator;
    using typename Base::size_type;

    OwnPtrVector() = default;
    // n null slots; a count above max_size() throws std::length_error.
    explicit OwnPtrVector(size_type n) : Base(n) {}

    OwnPtrVector(const OwnPtrVector&) = delete;
    OwnPtrVector& operator=(const OwnPtrVector&) = delete;
    OwnPtrVector(OwnPtrVector&& other) noexcept : Base(std::move(static_cast<Base&>(other)))
    {
        other.Base::clear();
    }
    // Deletes what this vector holds, then takes over other's elements.
    OwnPtrVector& operator=(OwnPtrVector&& other) noexcept
    {
        if (this != &other) {
            clear();
            Base::operator=(std::move(static_cast<Base&>(other)));
            other.Base::clear();
        }
        return *this;
    }

    virtual ~OwnPtrVector() { clear(); }

    // Deletes every non-null element, then empties the vector (capacity kept).
    void clear() noexcept
    {
        for (P p : static_cast<Base&>(*this))
            if (p)
                ownptr_detail::deleteOwned(p);
        Base::clear();
    }

    // Deletes the elements in [first, last), moves the following ones down; returns first. (The
    // one-position erase of the standard vector is hidden: use erase(it, it + 1).)
    iterator erase(const_iterator first, const_iterator last)
    {
        for (const_iterator it = first; it != last; ++it)
            if (*it)
                ownptr_detail::deleteOwned(*it);
        return Base::erase(first, last);
    }
};

// List of P (a T*), owning its elements.
template <typename P>
class OwnPtrList : public std::list<P> {
    static_assert(std::is_pointer_v<P>, "OwnPtrList<T*> holds plain pointers");
    using Base = std::list<P>;

public:
    OwnPtrList() = default;
    OwnPtrList(const OwnPtrList&) = delete;
    OwnPtrList& operator=(const OwnPtrList&) = delete;
    OwnPtrList(OwnPtrList&& other) noexcept : Base(std::move(static_cast<Base&>(other)))
    {
        other.Base::clear();
    }
    OwnPtrList& operator=(OwnPtrList&& other) noexcept
    {
        if (this != &other) {
            clear();
            Base::operator=(std::move(static_cast<Base&>(other)));
            other.Base::clear();
        }
        return *this;
    }

    virtual ~OwnPtrList() { clear(); }

    // Deletes every element, then frees all nodes.
    void clear() noexcept
    {
        for (P p : static_cast<Base&>(*this))
            ownptr_detail::deleteOwned(p);
        Base::clear();
    }

    // Unlinks every node holding p (pointer identity) and deletes the object once, however many nodes
    // held it. A pointer the list does not hold changes nothing. Returns the number of nodes removed.
    size_t remove(P p)
    {
        const size_t removed = Base::remove(p);
        if (removed)
            ownptr_detail::deleteOwned(p);
        return removed;
    }
};

// Ordered map from K to P (a T*), owning the mapped objects (not the keys).
template <typename K, typename P, typename Compare = std::less<K>>
class OwnPtrMap : public std::map<K, P, Compare> {
    static_assert(std::is_pointer_v<P>, "OwnPtrMap<K, T*> maps to plain pointers");
    using Base = std::map<K, P, Compare>;

public:
    OwnPtrMap() = default;
    OwnPtrMap(const OwnPtrMap&) = delete;
    OwnPtrMap& operator=(const OwnPtrMap&) = delete;
    OwnPtrMap(OwnPtrMap&& other) noexcept : Base(std::move(static_cast<Base&>(other)))
    {
        other.Base::clear();
    }
    OwnPtrMap& operator=(OwnPtrMap&& other) noexcept
    {
        if (this != &other) {
            clear();
            Base::operator=(std::move(static_cast<Base&>(other)));
            other.Base::clear();
        }
        return *this;
    }

    virtual ~OwnPtrMap() { clear(); }

    // Deletes every mapped object, then empties the map.
    void clear() noexcept
    {
        for (auto& entry : static_cast<Base&>(*this))
            ownptr_detail::deleteOwned(entry.second);
        Base::clear();
    }
};
