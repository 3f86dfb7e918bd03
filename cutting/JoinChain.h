#pragma once

#include <cstddef>
#include <utility>
#include <vector>

// A chain being joined: points read forward or backward, so turning it round costs nothing
// and each join moves only the points of the shorter side. The points are kept as a stack
// growing at the front (head, last element first) and a list growing at the back (tail, read
// from start): a chain starts as the list it was given, without a copy, and hundreds of
// thousands of short chains cost no block each.
template <typename T>
class JoinChain
{
public:
    explicit JoinChain(std::vector<T> points) : tail(std::move(points)) {}
    bool empty() const { return size() == 0; }
    size_t size() const { return head.size() + tail.size() - start; }
    const T& front() const { return at(0); }
    const T& back() const { return at(size() - 1); }
    void popBack() { turned ? popFrontRaw() : popBackRaw(); }
    void clear()
    {
        head.clear();
        tail.clear();
        start = 0;
        turned = false;
    }
    // Appends other (turned: from its last point back), leaving other empty; skip drops
    // other's point at the joint.
    void append(JoinChain& other, bool otherTurned, bool skip)
    {
        if (otherTurned)
            other.turned = !other.turned;
        if (skip)
            other.turned ? other.popBackRaw() : other.popFrontRaw();
        if (other.size() <= size()) {
            for (size_t i = 0, n = other.size(); i < n; ++i)
                pushBack(other.at(i));
        } else {
            for (size_t i = size(); i-- > 0;)
                other.pushFront(at(i));
            std::swap(head, other.head);
            std::swap(tail, other.tail);
            std::swap(start, other.start);
            std::swap(turned, other.turned);
        }
        other.clear();
    }
    template <typename Chain>
    Chain take()
    {
        Chain c;
        c.reserve(size());
        for (size_t i = 0, n = size(); i < n; ++i)
            c.push_back(at(i));
        clear();
        return c;
    }

private:
    // Unturned positions: head from its end, then tail from start.
    const T& raw(size_t i) const { return i < head.size() ? head[head.size() - 1 - i] : tail[start + i - head.size()]; }
    const T& at(size_t i) const { return raw(turned ? size() - 1 - i : i); }
    void pushBack(const T& v) { turned ? head.push_back(v) : tail.push_back(v); }
    void pushFront(const T& v) { turned ? tail.push_back(v) : head.push_back(v); }
    void popFrontRaw()
    {
        if (!head.empty())
            head.pop_back();
        else
            ++start;
    }
    void popBackRaw()
    {
        if (tail.size() == start) {
            // The back lies in head: it moves to tail once, so pops stay cheap.
            tail.assign(head.rbegin(), head.rend());
            head.clear();
            start = 0;
        }
        tail.pop_back();
    }

    std::vector<T> head, tail;
    size_t start = 0; // points of tail already taken from the front
    bool turned = false;
};
