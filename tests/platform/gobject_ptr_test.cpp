// SPDX-License-Identifier: MIT
#include <gio/gio.h>
#include <gtest/gtest.h>

#include "platform/gobject_ptr.hpp"

namespace ticklark::platform {
namespace {

// Each owner releases what it holds exactly once, when it goes: an object
// finalised too early or never shows in its weak pointer, a handler or source
// left behind in what still reaches it.
TEST(GObjectOwners, ReleaseWhatTheyHoldExactlyOnceWhenTheyGo) {
  GObject* watched = nullptr;
  {
    auto object = Adopt(G_OBJECT(g_simple_action_new("watched", nullptr)));
    watched = object.get();
    g_object_add_weak_pointer(watched, reinterpret_cast<gpointer*>(&watched));
    {
      const auto second = Share(object.get());
      EXPECT_EQ(second.get(), object.get());
    }
    ASSERT_NE(watched, nullptr);  // the shared reference went, the first stays

    int activations = 0;
    {
      SignalHandlers handlers(object.get());
      handlers.Connect("activate", G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer count) {
                         ++*static_cast<int*>(count);
                       }),
                       &activations);
      g_action_activate(G_ACTION(object.get()), nullptr);
    }
    g_action_activate(G_ACTION(object.get()), nullptr);
    EXPECT_EQ(activations, 1);
  }
  EXPECT_EQ(watched, nullptr);

  bool ran = false;
  {
    SourceId source;
    source.Reset(g_idle_add(
        +[](gpointer flag) -> gboolean {
          *static_cast<bool*>(flag) = true;
          return G_SOURCE_REMOVE;
        },
        &ran));
    EXPECT_TRUE(source.Active());
  }
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  EXPECT_FALSE(ran);

  // A source of one's own is taken out of its context by its holder, also
  // after it has ended itself.
  int runs = 0;
  const auto count = +[](gpointer counter) -> gboolean {
    ++*static_cast<int*>(counter);
    return G_SOURCE_REMOVE;
  };
  {
    AttachedSource ended(g_idle_source_new());
    g_source_set_callback(ended.get(), count, &runs, nullptr);
    g_source_attach(ended.get(), nullptr);
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    AttachedSource pending(g_idle_source_new());
    g_source_set_callback(pending.get(), count, &runs, nullptr);
    g_source_attach(pending.get(), nullptr);
  }
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  EXPECT_EQ(runs, 1);

  GErrorPtr error;
  const bool parsed = g_uri_is_valid("no scheme", G_URI_FLAGS_NONE, Out(error));
  EXPECT_FALSE(parsed);
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->domain, G_URI_ERROR);
}

}  // namespace
}  // namespace ticklark::platform
