#include "DemoTenant.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace halcyra {

namespace {

    std::string readLine(int fd)
    {
        std::string line;
        char c;
        while (::read(fd, &c, 1) == 1 && c != '\n')
            line += c;
        return line;
    }

    int portOf(const std::string& address)
    {
        return std::stoi(address.substr(address.rfind(':') + 1));
    }

}

DemoTenant::DemoTenant()
{
    auto run = std::filesystem::path(HALCYRA_SOURCE_DIR) / "tools" / "demo-tenant" / "run";

    int output[2];
    if (::pipe(output))
        throw std::runtime_error("pipe failed");
    m_process = ::fork();
    if (m_process == 0) {
        ::dup2(output[1], STDOUT_FILENO);
        ::close(output[0]);
        ::close(output[1]);
        ::execl(run.c_str(), run.c_str(), "--state-dir", m_stateFolder.path().c_str(), "--proxy-port", "0", "--control-port", "0", nullptr);
        ::_exit(127);
    }
    ::close(output[1]);
    auto startLine = readLine(output[0]);
    ::close(output[0]);
    auto start = nlohmann::json::parse(startLine, nullptr, false);
    if (start.is_discarded() || !start.contains("control"))
        throw std::runtime_error("the demo tenant did not start: " + startLine);
    m_controlPort = portOf(start["control"].get<std::string>());
    m_configurationFile = start["config"].get<std::string>();
}

DemoTenant::~DemoTenant()
{
    if (m_process > 0) {
        ::kill(m_process, SIGTERM);
        ::waitpid(m_process, nullptr, 0);
    }
}

nlohmann::json DemoTenant::control(const std::string& method, const std::string& path, const nlohmann::json& body)
{
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(m_controlPort));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address))) {
        ::close(fd);
        throw std::runtime_error("cannot reach the demo tenant's control port");
    }
    auto payload = body.is_null() ? std::string() : body.dump();
    auto request = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(payload.size()) + "\r\n\r\n" + payload;
    ::send(fd, request.data(), request.size(), 0);
    std::string response;
    char buffer[4096];
    ssize_t count;
    while ((count = ::recv(fd, buffer, sizeof(buffer), 0)) > 0)
        response.append(buffer, static_cast<size_t>(count));
    ::close(fd);
    auto bodyStart = response.find("\r\n\r\n");
    if (bodyStart == std::string::npos)
        throw std::runtime_error("malformed control response");
    return nlohmann::json::parse(response.substr(bodyStart + 4));
}

}
