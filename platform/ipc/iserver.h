#pragma once
// A service registered with the IPC host. The host keeps the service alive;
// the handle only names it.

#include <string>

class IServer {
public:
    virtual ~IServer() = default;
    virtual const std::string& GetName() const = 0;
};
