#pragma once

#include "platform/glib/GRefPtr.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace halcyra {

// What the counts interface publishes: the counts that were read (keys "task", "notification",
// "prepaid", "draft"), the last complete update, the polling state and the subtitle's text.
struct PublishedCounts {
    std::map<std::string, std::int64_t> counts;
    // Seconds since 1970; 0 when there was no complete update yet.
    std::int64_t lastUpdated { 0 };
    std::string state { "idle" };
    std::string statusText;

    bool operator==(const PublishedCounts&) const = default;
};

// The counts as D-Bus properties on the application's own name, for panel widgets and scripts:
// object /com/ashgrove/Halcyra, interface com.ashgrove.Halcyra.Counts, PropertiesChanged on
// every change.
class CountsBusObject {
public:
    // Without a connection (no session bus) nothing is exported.
    explicit CountsBusObject(GDBusConnection*);
    ~CountsBusObject();
    CountsBusObject(const CountsBusObject&) = delete;
    CountsBusObject& operator=(const CountsBusObject&) = delete;

    void update(const PublishedCounts&);

private:
    static GVariant* property(GDBusConnection*, const char*, const char*, const char*, const char* name, GError**, gpointer);
    GVariant* propertyValue(const std::string& name) const;

    GRefPtr<GDBusConnection> m_connection;
    unsigned m_registrationID { 0 };
    PublishedCounts m_published;
};

}
