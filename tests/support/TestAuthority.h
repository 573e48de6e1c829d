#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>

namespace kestova::testing {

// A certificate authority made at test time with the openssl tool, in a folder of the test, and
// server certificates it signs. Each call says whether the tool succeeded.
class TestAuthority {
  public:
    explicit TestAuthority(std::filesystem::path folder) : folder_(std::move(folder)) {
        std::filesystem::create_directories(folder_);
        made_ =
            run("openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " +
                path("ca.key") + " -out " + path("ca.pem") + " -days 2 -subj /CN=Kestova-Test-CA");
    }

    bool made() const { return made_; }
    std::string certificate() const { return path("ca.pem"); }

    // A server certificate NAME.pem with key NAME.key for the subject alternative names given
    // ("DNS:localhost,IP:127.0.0.1"), valid from now for the days given (-1: already expired);
    // signed by this authority, or by itself when selfSigned.
    bool issue(const std::string& name, const std::string& altNames, int days = 2,
               bool selfSigned = false) const {
        const std::string key = path(name + ".key");
        const std::string request = path(name + ".csr");
        const std::string extensions = path(name + ".ext");
        const std::string writeExtensions =
            "printf 'subjectAltName=" + altNames + "\\n' > " + extensions;
        const std::string signer = selfSigned ? " -signkey " + key
                                              : " -CA " + path("ca.pem") + " -CAkey " +
                                                    path("ca.key") + " -CAcreateserial";
        return run(writeExtensions) &&
               run("openssl req -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout " + key +
                   " -out " + request + " -subj /CN=" + name) &&
               run("openssl x509 -req -in " + request + signer + " -out " + path(name + ".pem") +
                   " -days " + std::to_string(days) + " -extfile " + extensions);
    }

    std::string path(const std::string& file) const { return (folder_ / file).string(); }

  private:
    static bool run(const std::string& command) {
        return std::system(("(" + command + ") > /dev/null 2>&1").c_str()) == 0;
    }

    std::filesystem::path folder_;
    bool made_ = false;
};

}  // namespace kestova::testing
