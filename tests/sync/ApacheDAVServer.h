#pragma once

#include "support/TemporaryFolder.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace halcyra {

inline sockaddr_in loopbackAddress(int port = 0) { return { AF_INET, htons(static_cast<uint16_t>(port)), { htonl(INADDR_LOOPBACK) }, {} }; }

// A socket listening on a free loopback port, which accepts connections and never answers.
struct LoopbackListener {
    int descriptor;
    int port;
};
inline LoopbackListener listeningLoopbackSocket()
{
    int descriptor = ::socket(AF_INET, SOCK_STREAM, 0);
    auto address = loopbackAddress();
    socklen_t length = sizeof(address);
    if (bind(descriptor, reinterpret_cast<sockaddr*>(&address), length) || listen(descriptor, 16) || getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &length))
        throw std::runtime_error("no free port on loopback");
    return { descriptor, ntohs(address.sin_port) };
}

// Apache with mod_dav and mod_dav_fs in one process (-X) on a free loopback port, its
// configuration, files and logs in a temporary folder. Apache refuses to serve as root, so
// it runs as nobody; the folders it writes to are open to it.
class ApacheDAVServer {
public:
    ApacheDAVServer()
    {
        chmod(m_folder.c_str(), 0755);
        for (auto name : { "dav", "lock" }) {
            std::filesystem::create_directory(m_folder / name);
            chmod((m_folder / name).c_str(), 0777);
        }
        // A port nothing listens on at the moment it is asked for.
        auto listener = listeningLoopbackSocket();
        close(listener.descriptor);
        m_port = listener.port;
        std::ofstream config(m_folder / "httpd.conf");
        for (auto module : { "mpm_event", "authz_core", "dav", "dav_fs" })
            config << "LoadModule " << module << "_module /usr/lib/apache2/modules/mod_" << module << ".so\n";
        config << "ServerRoot " << m_folder.string() << "\nServerName 127.0.0.1\nListen 127.0.0.1:" << m_port << "\n"
               << "PidFile " << (m_folder / "httpd.pid").string() << "\nUser nobody\nGroup nogroup\n"
               << "ErrorLog " << (m_folder / "error.log").string() << "\nLogFormat \"%m %U %>s\" requests\n"
               << "CustomLog " << (m_folder / "access.log").string() << " requests\n"
               << "DavLockDB " << (m_folder / "lock" / "DavLock").string() << "\nDocumentRoot " << davFolder().string() << "\n"
               << "<Directory " << davFolder().string() << ">\n  Dav On\n  Require all granted\n</Directory>\n";
        config.close();
        start();
    }
    ~ApacheDAVServer() { kill(); }
    ApacheDAVServer(const ApacheDAVServer&) = delete;
    ApacheDAVServer& operator=(const ApacheDAVServer&) = delete;

    void start()
    {
        m_pid = fork();
        if (!m_pid) {
            execl("/usr/sbin/apache2", "apache2", "-X", "-f", (m_folder / "httpd.conf").c_str(), nullptr);
            _exit(127);
        }
        for (int attempt = 0; attempt < 200 && !acceptsConnections(); ++attempt)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (!acceptsConnections())
            throw std::runtime_error("Apache did not start: " + contentsOf(m_folder / "error.log"));
    }

    // Ends the server at once, as a crash or a pulled plug would.
    void kill()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
        m_pid = 0;
    }

    std::string url() const { return "http://127.0.0.1:" + std::to_string(m_port) + "/"; }
    std::filesystem::path davFolder() const { return m_folder / "dav"; }
    std::filesystem::path recordFile() const { return davFolder() / "Counts" / "WorkdayCounts.json"; }

    // Requests as "METHOD /path status", one a line.
    std::string requestLog() const { return contentsOf(m_folder / "access.log"); }
    // The requests whose line starts with `start`: "PUT /a 20" counts the writes of /a.
    int count(const std::string& start) const
    {
        std::istringstream log(requestLog());
        int count = 0;
        for (std::string entry; std::getline(log, entry);)
            count += entry.starts_with(start);
        return count;
    }

private:
    bool acceptsConnections() const
    {
        int socket = ::socket(AF_INET, SOCK_STREAM, 0);
        auto address = loopbackAddress(m_port);
        bool isConnected = !connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof(address));
        close(socket);
        return isConnected;
    }

    TemporaryFolder m_temporaryFolder;
    const std::filesystem::path& m_folder { m_temporaryFolder.path() };
    int m_port { 0 };
    pid_t m_pid { 0 };
};

}
