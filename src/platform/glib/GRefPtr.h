#pragma once

#include <glib-object.h>

#include <cstddef>
#include <memory>
#include <type_traits>
#include <utility>

namespace halcyra {

// How a reference-counted GLib type is referenced and released. GObject subclasses use the
// primary template; other counted types (GSource, GHashTable, a library's boxed values) add a
// specialisation beside their first user. A floating reference (a new GtkWidget, any
// GInitiallyUnowned) is sunk, as WebKit's GRefPtr does: wrapping it takes it over instead of
// adding a second one that nobody would release.
template <typename T>
struct GRefTraits {
    static T* ref(T* pointer) { return static_cast<T*>(g_object_ref_sink(pointer)); }
    static void unref(T* pointer) { g_object_unref(pointer); }
    static void sinkIfFloating(T* pointer)
    {
        if (g_object_is_floating(pointer))
            g_object_ref_sink(pointer);
    }
};

template <>
struct GRefTraits<GSource> {
    static GSource* ref(GSource* pointer) { return g_source_ref(pointer); }
    static void unref(GSource* pointer) { g_source_unref(pointer); }
};

// A floating GVariant (what the g_variant_new family returns) is sunk, so that adopting and
// wrapping both end with exactly one owned reference.
template <>
struct GRefTraits<GVariant> {
    static GVariant* ref(GVariant* pointer) { return g_variant_ref_sink(pointer); }
    static void unref(GVariant* pointer) { g_variant_unref(pointer); }
    static void sinkIfFloating(GVariant* pointer)
    {
        if (g_variant_is_floating(pointer))
            g_variant_ref_sink(pointer);
    }
};

template <>
struct GRefTraits<GBytes> {
    static GBytes* ref(GBytes* pointer) { return g_bytes_ref(pointer); }
    static void unref(GBytes* pointer) { g_bytes_unref(pointer); }
};

template <>
struct GRefTraits<GHashTable> {
    static GHashTable* ref(GHashTable* pointer) { return g_hash_table_ref(pointer); }
    static void unref(GHashTable* pointer) { g_hash_table_unref(pointer); }
};

template <typename T>
class GRefPtr;

template <typename T>
GRefPtr<T> adoptGRef(T*);

// Owns one reference. `adoptGRef` takes over a reference the caller already owns (what a
// "transfer full" function returns); constructing from a raw pointer adds a reference, or sinks
// a floating one.
template <typename T>
class GRefPtr {
public:
    GRefPtr() = default;
    GRefPtr(std::nullptr_t) { }
    explicit GRefPtr(T* pointer)
        : m_pointer(pointer ? GRefTraits<T>::ref(pointer) : nullptr)
    {
    }
    GRefPtr(const GRefPtr& other)
        : GRefPtr(other.m_pointer)
    {
    }
    GRefPtr(GRefPtr&& other) noexcept
        : m_pointer(std::exchange(other.m_pointer, nullptr))
    {
    }
    GRefPtr& operator=(GRefPtr other) noexcept
    {
        std::swap(m_pointer, other.m_pointer);
        return *this;
    }
    ~GRefPtr()
    {
        if (m_pointer)
            GRefTraits<T>::unref(m_pointer);
    }

    T* get() const { return m_pointer; }
    T* operator->() const { return m_pointer; }
    explicit operator bool() const { return m_pointer; }

private:
    friend GRefPtr adoptGRef<T>(T*);

    T* m_pointer { nullptr };
};

template <typename T>
GRefPtr<T> adoptGRef(T* pointer)
{
    GRefPtr<T> adopted;
    // A floating reference becomes the owned one; no count is added.
    if constexpr (requires { GRefTraits<T>::sinkIfFloating(pointer); }) {
        if (pointer)
            GRefTraits<T>::sinkIfFloating(pointer);
    }
    adopted.m_pointer = pointer;
    return adopted;
}

// Releases values that GLib hands over without a reference count.
template <typename T>
struct GPtrDeleter;

template <>
struct GPtrDeleter<GError> {
    void operator()(GError* error) const { g_error_free(error); }
};

template <>
struct GPtrDeleter<char> {
    void operator()(char* string) const { g_free(string); }
};

template <typename T>
using GUniquePtr = std::unique_ptr<T, GPtrDeleter<T>>;

// For "out" parameters such as `GError**`: whatever the callee stores is owned and released.
template <typename T>
class GUniqueOutPtr {
public:
    GUniqueOutPtr() = default;
    GUniqueOutPtr(const GUniqueOutPtr&) = delete;
    GUniqueOutPtr& operator=(const GUniqueOutPtr&) = delete;
    ~GUniqueOutPtr() { reset(); }

    T** outPtr()
    {
        reset();
        return &m_pointer;
    }
    T* get() const { return m_pointer; }
    T* operator->() const { return m_pointer; }
    explicit operator bool() const { return m_pointer; }

private:
    void reset()
    {
        if (m_pointer)
            GPtrDeleter<T>()(std::exchange(m_pointer, nullptr));
    }

    T* m_pointer { nullptr };
};

}
