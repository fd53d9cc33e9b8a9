// SPDX-License-Identifier: MIT
#pragma once

#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include <glib-object.h>

// Owners for what GLib, GObject and the libraries built on them hand out: each
// reference, string, error, main-loop source or signal handler is released
// exactly once, when its owner goes, on every way out of a function.
namespace ticklark::platform {

// Releases a pointer with the C function that frees it.
template <auto Free>
struct FreeWith {
  template <typename T>
  void operator()(T* pointer) const {
    Free(pointer);
  }
};

// A pointer freed by |Free|: CPtr<GUri, g_uri_unref>.
template <typename T, auto Free>
using CPtr = std::unique_ptr<T, FreeWith<Free>>;

// One reference to a GObject.
template <typename T>
using GObjectPtr = CPtr<T, g_object_unref>;

using GCharPtr = CPtr<char, g_free>;
using GErrorPtr = CPtr<GError, g_error_free>;

// Takes over a reference the caller was given (a "transfer full" result).
template <typename T>
GObjectPtr<T> Adopt(T* object) {
  return GObjectPtr<T>(object);
}

// Owns a newly made object whose reference is floating (GInitiallyUnowned).
template <typename T>
GObjectPtr<T> Sink(T* object) {
  return GObjectPtr<T>(static_cast<T*>(g_object_ref_sink(object)));
}

// Takes a reference of its own to an object someone else owns.
template <typename T>
GObjectPtr<T> Share(T* object) {
  return GObjectPtr<T>(object ? static_cast<T*>(g_object_ref(object)) : nullptr);
}

// Lets a C function fill an owner through an out-parameter:
//   GErrorPtr error;
//   const bool ok = g_file_load_contents(file, nullptr, &data, &size, nullptr, Out(error));
// The owner receives the pointer at the end of the full expression, so read
// it in the next statement, not in the same one.
template <typename Owner>
class OutParam {
 public:
  explicit OutParam(Owner& owner) : m_owner(owner) {}
  ~OutParam() { m_owner.reset(m_raw); }
  OutParam(const OutParam&) = delete;
  OutParam& operator=(const OutParam&) = delete;

  operator typename Owner::pointer *() { return &m_raw; }

 private:
  Owner& m_owner;
  typename Owner::pointer m_raw = nullptr;
};

template <typename Owner>
OutParam<Owner> Out(Owner& owner) {
  owner.reset();
  return OutParam<Owner>(owner);
}

// A main-loop source (timeout or idle), removed when its holder goes. A
// callback that ends its own source (G_SOURCE_REMOVE) calls Forget() first.
class SourceId {
 public:
  SourceId() = default;
  ~SourceId() { Reset(); }
  SourceId(const SourceId&) = delete;
  SourceId& operator=(const SourceId&) = delete;

  // Holds |id| in place of the source held so far, which is removed.
  void Reset(guint id = 0) {
    if (m_id != 0) {
      g_source_remove(m_id);
    }
    m_id = id;
  }
  void Forget() { m_id = 0; }
  bool Active() const { return m_id != 0; }

 private:
  guint m_id = 0;
};

// Signal handlers on one object, disconnected together when the holder goes;
// the object must outlive the holder.
class SignalHandlers {
 public:
  explicit SignalHandlers(gpointer instance) : m_instance(instance) {}
  ~SignalHandlers() { DisconnectAll(); }
  SignalHandlers(const SignalHandlers&) = delete;
  SignalHandlers& operator=(const SignalHandlers&) = delete;

  void Connect(const char* signal, GCallback callback, gpointer data) {
    m_ids.push_back(g_signal_connect(m_instance, signal, callback, data));
  }
  void DisconnectAll() {
    for (const gulong id : std::exchange(m_ids, {})) {
      g_signal_handler_disconnect(m_instance, id);
    }
  }

 private:
  gpointer m_instance;
  std::vector<gulong> m_ids;
};

// A weak reference to a GObject: Get() gives a reference of one's own while
// the object lives, and null once it has gone.
template <typename T>
class WeakRef {
 public:
  explicit WeakRef(T* object) { g_weak_ref_init(&m_ref, object); }
  ~WeakRef() { g_weak_ref_clear(&m_ref); }
  WeakRef(const WeakRef&) = delete;
  WeakRef& operator=(const WeakRef&) = delete;

  GObjectPtr<T> Get() { return Adopt(static_cast<T*>(g_weak_ref_get(&m_ref))); }

 private:
  GWeakRef m_ref;
};

// Connects |callback| to |signal| of |instance| with |state| as its data,
// which the connection owns: the state goes when the handler is disconnected,
// at the latest when the instance is finalized.
template <typename T>
gulong ConnectOwning(gpointer instance, const char* signal, GCallback callback,
                     std::unique_ptr<T> state) {
  return g_signal_connect_data(
      instance, signal, callback, state.release(),
      [](gpointer data, GClosure*) { std::unique_ptr<T>{static_cast<T*>(data)}; }, GConnectFlags{});
}

// Runs |work| once from the main loop, when it is idle; the source owns it.
inline guint RunWhenIdle(std::function<void()> work, int priority = G_PRIORITY_DEFAULT_IDLE) {
  using Work = std::function<void()>;
  return g_idle_add_full(
      priority,
      [](gpointer data) -> gboolean {
        (*static_cast<Work*>(data))();
        return G_SOURCE_REMOVE;
      },
      std::make_unique<Work>(std::move(work)).release(),
      [](gpointer data) { std::unique_ptr<Work>{static_cast<Work*>(data)}; });
}

// A NULL-terminated array of strings and the strings in it (g_get_environ(),
// g_shell_parse_argv()).
using GStrvPtr = CPtr<char*, g_strfreev>;

inline void DestroySource(GSource* source) {
  g_source_destroy(source);
  g_source_unref(source);
}

// A main-loop source made by its owner (g_timeout_source_new(), a stream's
// source) and attached to a context: taken out of it and released when its
// holder goes, whether or not it has ended itself by then.
using AttachedSource = CPtr<GSource, DestroySource>;

}  // namespace ticklark::platform
