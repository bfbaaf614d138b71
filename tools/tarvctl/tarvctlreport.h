#pragma once
// The part of `tarvctl report` that needs no daemon: what the station's
// files and the kernel say about its network. Works while tarv is stopped,
// which is when a report is needed most. Nothing that may hold a secret is
// copied: the supplicant's and access point's files are left out, and
// lines of the interfaces file naming a key or password are masked.

#include <json/json.h>

#include <string>

class CTarvCtlReport {
public:
    explicit CTarvCtlReport(std::string root) : mRoot(std::move(root)) {}

    Json::Value System() const;

private:
    // The file's lines (at most a few hundred); null when it cannot be read.
    Json::Value Lines(const std::string& relativePath, bool maskSecrets) const;
    Json::Value Links() const;
    // Addresses of the interfaces; only for the root "/", the only root
    // whose network namespace is this process's own.
    Json::Value Addresses() const;

    std::string mRoot;
};
