#pragma once

#include "counts/CountsReading.h"
#include "platform/glib/GRefPtr.h"

#include <string>

typedef struct _GDBusConnection GDBusConnection;

namespace halcyra {

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

    // The counts that were read (keys "task", "notification", "prepaid", "draft"), the last
    // complete update (seconds since 1970, 0 before the first), the polling state's name, and
    // the subtitle's text.
    void update(const CountsReading&, const std::string& statusText);

private:
    static GVariant* property(GDBusConnection*, const char*, const char*, const char*, const char* name, GError**, gpointer);
    GVariant* propertyValue(const std::string& name) const;

    GRefPtr<GDBusConnection> m_connection;
    unsigned m_registrationID { 0 };
    CountsReading m_reading;
    std::string m_statusText;
};

}
