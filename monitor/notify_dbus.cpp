// SPDX-License-Identifier: GPL-3.0-or-later
// The freedesktop notification interface on the session bus, called through
// GDBus, which GTK brings along anyway. The call is asynchronous: a slow or
// absent service must not hold the window, which a probe cycle has just
// blocked for long enough.
#include "notify.h"

#include <gio/gio.h>
#include <glib.h>

namespace {

bool complained = false;

void complain(const GError* error) {
    if (!complained) {
        complained = true;
        g_printerr("quorvel: no desktop notification service (%s); changes are not announced\n",
                   error != nullptr ? error->message : "no session bus");
    }
}

void notified(GObject* source, GAsyncResult* result, gpointer /*data*/) {
    GError* error = nullptr;
    GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
    if (reply != nullptr) {
        g_variant_unref(reply);
    } else {
        complain(error);
        g_clear_error(&error);
    }
}

// The session bus, looked up once; nullptr when there is none.
GDBusConnection* sessionbus() {
    static GDBusConnection* bus = nullptr;
    static bool looked = false;
    if (!looked) {
        looked = true;
        GError* error = nullptr;
        bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (bus == nullptr) {
            complain(error);
            g_clear_error(&error);
        }
    }
    return bus;
}

} // namespace

// The service needs nothing before the first notification.
void notifystart() {}

void notifydesktop(const char* text) {
    GDBusConnection* bus = sessionbus();
    if (bus == nullptr) {
        return;
    }
    constexpr gint32 servicedefaulttimeout = -1;
    constexpr gint callmsec = 5000;
    GVariant* arguments = g_variant_new(
        "(susss@as@a{sv}i)", "quorvel", 0U, "quorvel", text, "", g_variant_new_strv(nullptr, 0),
        g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0), servicedefaulttimeout);
    g_dbus_connection_call(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                           "org.freedesktop.Notifications", "Notify", arguments,
                           G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, callmsec, nullptr,
                           notified, nullptr);
}
