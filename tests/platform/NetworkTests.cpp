#include "ServiceTestSupport.h"
#include "platform/network/AppcastParser.h"
#include "platform/network/GioNetworkPathMonitor.h"
#include "platform/network/SoupUpdateFeed.h"

#include <gtest/gtest.h>
#include <libsoup/soup.h>

using namespace halcyra;

namespace {

// NetworkManager's global states, which GIO's own monitor reads, set on python3-dbusmock's
// NetworkManager of run-with-services.
void setNetworkManagerState(guint32 state)
{
    callSystemBus("org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager", "org.freedesktop.DBus.Mock", "SetGlobalConnectionState", g_variant_new("(u)", state));
}
constexpr guint32 nmStateDisconnected = 20;
constexpr guint32 nmStateConnectedGlobal = 70;

}

// Observers hear the current status, later and never inside observe(), then every change; one
// disconnected before its first status hears nothing, even when its monitor is already gone.
TEST(NetworkPathMonitor, connectedObserversHearTheCurrentStatusThenEveryChangeAndDisconnectedOnesNothing)
{
    ASSERT_STREQ(G_OBJECT_TYPE_NAME(g_network_monitor_get_default()), "GNetworkMonitorNM") << "run under tests/platform/run-with-services";
    setNetworkManagerState(nmStateConnectedGlobal);
    ASSERT_TRUE(runMainLoopUntil([] { return g_network_monitor_get_network_available(g_network_monitor_get_default()); }));
    int disconnectedCalls = 0;
    std::optional<Connection> ofAGoneMonitor = GioNetworkPathMonitor().observe([&](bool) { ++disconnectedCalls; });
    ofAGoneMonitor.reset();
    GioNetworkPathMonitor monitor;
    std::optional<bool> lastStatus;
    auto disconnected = monitor.observe([&](bool) { ++disconnectedCalls; });
    auto connection = monitor.observe([&](bool isSatisfied) { lastStatus = isSatisfied; });
    disconnected.disconnect();
    EXPECT_FALSE(lastStatus);
    // Idle callbacks run in the order they were added: the disconnected ones' would come first.
    ASSERT_TRUE(runMainLoopUntil([&] { return lastStatus == true; }));
    for (bool isConnected : { false, true }) {
        setNetworkManagerState(isConnected ? nmStateConnectedGlobal : nmStateDisconnected);
        ASSERT_TRUE(runMainLoopUntil([&] { return lastStatus == isConnected; })) << "change never reported";
        EXPECT_EQ(monitor.isSatisfied(), isConnected);
    }
    EXPECT_EQ(disconnectedCalls, 0) << "a disconnected observer heard a status";
}

namespace {

std::string feedWithItems(const std::string& items)
{
    return R"(<?xml version="1.0" encoding="utf-8"?>
<rss version="2.0" xmlns:sparkle="http://www.andymatuschak.org/xml-namespaces/sparkle">
<channel><title>Halcyra</title>)"
        + items + "</channel></rss>";
}

const std::string twoReleases = feedWithItems(R"(
<item><title>Halcyra 0.2</title><sparkle:version>0.2.0</sparkle:version>
  <link>https://downloads.example.org/halcyra/0.2</link></item>
<item><title>Halcyra 0.3 &amp; more</title>
  <sparkle:releaseNotesLink>https://downloads.example.org/halcyra/0.3/notes</sparkle:releaseNotesLink>
  <enclosure url="https://downloads.example.org/halcyra-0.3.tar.xz" sparkle:version="0.3.0" sparkle:shortVersionString="0.3" length="1" type="application/x-xz"/></item>)");

std::string describe(const FeedResult& result)
{
    if (std::holds_alternative<FeedFailure>(result))
        return "failure";
    std::string text;
    for (auto& item : std::get<std::vector<AppcastItem>>(result))
        text += item.version + "|" + item.shortVersion + "|" + item.title + "|" + item.releasePageURL + ";";
    return text;
}

}

TEST(UpdateFeed, appcastReadsReleasesAndRefusesHostileDocuments)
{
    struct Case {
        const char* name;
        std::string document;
        std::string expected;
    } cases[] = {
        { "version as element and as enclosure attribute", twoReleases,
            "0.2.0||Halcyra 0.2|https://downloads.example.org/halcyra/0.2;"
            "0.3.0|0.3|Halcyra 0.3 & more|https://downloads.example.org/halcyra/0.3/notes;" },
        { "item without a version is skipped", feedWithItems("<item><title>x</title></item>"), "" },
        { "a version longer than any version is skipped",
            feedWithItems("<item><sparkle:version>2</sparkle:version><sparkle:shortVersionString>" + std::string(65, '9') + "</sparkle:shortVersionString></item>"), "" },
        { "a page that is not https is not offered", feedWithItems("<item><sparkle:version>2</sparkle:version><link>file:///etc/passwd</link></item>"), "2|||;" },
        { "not well-formed", "<rss><channel><item>", "failure" },
        { "entities of its own", R"(<?xml version="1.0"?><!DOCTYPE rss [<!ENTITY a "aaaaaaaaaa"><!ENTITY b "&a;&a;&a;&a;&a;&a;">]>
            <rss><channel><item><title>&b;</title><sparkle:version>2</sparkle:version></item></channel></rss>)",
            "failure" },
        { "larger than a feed can be", feedWithItems(std::string(maximumAppcastSize, ' ')), "failure" },
    };
    for (auto& testCase : cases)
        EXPECT_EQ(describe(parseAppcast(testCase.document)), testCase.expected) << testCase.name;
    // What the user reads of a broken feed is the application's sentence, not the parser's.
    auto broken = parseAppcast("<rss><channel><item>");
    ASSERT_TRUE(std::holds_alternative<FeedFailure>(broken));
    EXPECT_EQ(std::get<FeedFailure>(broken).message, "The update feed is not a valid release feed.");
}

namespace {

// A feed server on loopback, answering every request with `status` and `body`.
class FeedServer {
public:
    FeedServer()
        : m_server(adoptGRef(soup_server_new(nullptr, nullptr)))
    {
        soup_server_add_handler(m_server.get(), nullptr, handle, this, nullptr);
        GUniqueOutPtr<GError> error;
        EXPECT_TRUE(soup_server_listen_local(m_server.get(), 0, SOUP_SERVER_LISTEN_IPV4_ONLY, error.outPtr()));
        GSList* uris = soup_server_get_uris(m_server.get());
        GUniquePtr<char> uri(g_uri_to_string(static_cast<GUri*>(uris->data)));
        m_url = std::string(uri.get()) + "appcast.xml";
        g_slist_free_full(uris, reinterpret_cast<GDestroyNotify>(g_uri_unref));
    }

    const std::string& url() const { return m_url; }
    unsigned status { SOUP_STATUS_OK };
    std::string body;

private:
    static void handle(SoupServer*, SoupServerMessage* message, const char*, GHashTable*, gpointer data)
    {
        auto& server = *static_cast<FeedServer*>(data);
        soup_server_message_set_status(message, server.status, nullptr);
        soup_server_message_set_response(message, "application/rss+xml", SOUP_MEMORY_COPY, server.body.data(), server.body.size());
    }

    GRefPtr<SoupServer> m_server;
    std::string m_url;
};

// What one fetch ends in: the message of a failure, or how many releases it read.
std::string fetchOnce(SoupUpdateFeed& feed)
{
    std::optional<FeedResult> result;
    feed.fetch([&](FeedResult answer) { result = std::move(answer); });
    if (!runMainLoopUntil([&] { return result.has_value(); }))
        return "no answer";
    if (auto* failure = std::get_if<FeedFailure>(&*result))
        return failure->message;
    return std::to_string(std::get<std::vector<AppcastItem>>(*result).size()) + " releases";
}

}

TEST(UpdateFeed, fetchesOverHTTPTurnsEveryServerFaultIntoAMessageAndAnswersOnlyWhileItLives)
{
    FeedServer server;
    SoupUpdateFeed feed(server.url(), std::nullopt);
    server.body = twoReleases;
    EXPECT_EQ(fetchOnce(feed), "2 releases");
    server.status = SOUP_STATUS_NOT_FOUND;
    EXPECT_EQ(fetchOnce(feed), "The update server answered with status 404.");
    server.status = SOUP_STATUS_OK;
    server.body = std::string(3 * maximumAppcastSize, 'x');
    EXPECT_EQ(fetchOnce(feed), "The update feed is larger than expected.");
    SoupUpdateFeed unreachable("http://127.0.0.1:1/appcast.xml", std::nullopt);
    auto unreachableAnswer = fetchOnce(unreachable);
    EXPECT_TRUE(unreachableAnswer.starts_with("The update server could not be reached: ")) << unreachableAnswer;

    // A feed destroyed mid-fetch never answers: its cancelled request ends on the next loop
    // iteration, and a whole fetch takes longer.
    server.body = twoReleases;
    bool answered = false;
    std::make_unique<SoupUpdateFeed>(server.url(), std::nullopt)->fetch([&](FeedResult) { answered = true; });
    EXPECT_EQ(fetchOnce(feed), "2 releases");
    EXPECT_FALSE(answered);
}
