#include "publish/PublishingOptions.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace zelvox {

int TakePublishingOption(const std::vector<std::string>& args, std::size_t& i, PublishingOptions& o,
                         std::string* error, bool takeJournalDir) {
    const std::string& arg = args[i];
    if (arg == "--mqtt-discovery") {
        o.discovery = true;
        return 1;
    }
    std::string* value = arg == "--mqtt"                            ? &o.url
                         : arg == "--mqtt-password-file"            ? &o.passwordFile
                         : arg == "--mqtt-cafile"                   ? &o.caFile
                         : arg == "--mqtt-cert"                     ? &o.certFile
                         : arg == "--mqtt-key"                      ? &o.keyFile
                         : arg == "--mqtt-client-id"                ? &o.clientId
                         : takeJournalDir && arg == "--journal-dir" ? &o.journalDir
                                                                    : nullptr;
    if (!value)
        return 0;
    if (i + 1 >= args.size() || args[i + 1].empty()) {
        *error = arg + " needs a value";
        return -1;
    }
    *value = args[++i];
    return 1;
}

namespace {

// The desktop program without a port: one name per running instance. Instance N holds a lock
// on zelvox-mqtt-desktop-N.lock in the runtime folder for as long as it runs (the descriptor is
// kept open on purpose); the first free N is taken, so a second window gets desktop-2.
std::string DesktopInstanceName() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string stem = runtime && *runtime
                                 ? std::string(runtime) + "/zelvox-mqtt-desktop-"
                                 : "/tmp/zelvox-mqtt-desktop-" + std::to_string(::getuid()) + "-";
    for (int n = 1; n < 100; ++n) {
        const std::string path = stem + std::to_string(n) + ".lock";
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0)
            break;
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return n == 1 ? std::string("desktop") : "desktop-" + std::to_string(n);
        ::close(fd);
    }
    return "desktop-" + std::to_string(::getpid());
}

} // namespace

bool MakePublisherOptions(const PublishingOptions& o, const std::string& portName, PublisherOptions* p,
                          std::string* error, std::string* warning) {
    p->target.caFile = o.caFile;
    p->target.certFile = o.certFile;
    p->target.keyFile = o.keyFile;
    if (!ParseMqttUrl(o.url, p->target, error) ||
        !CompleteMqttTarget(p->target, o.passwordFile, error, warning))
        return false;
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    if (!o.clientId.empty()) {
        p->clientId = o.clientId;
    } else if (portName.empty()) {
        p->clientId = DefaultMqttClientId(host, DesktopInstanceName());
    } else {
        // A relative path names a different port from another folder: the id hashes it whole.
        std::string path = portName;
        if (path.find('/') != std::string::npos && !path.starts_with('/')) {
            char cwd[4096];
            if (::getcwd(cwd, sizeof cwd))
                path = std::string(cwd) + "/" + path;
        }
        p->clientId = DefaultMqttClientId(host, path);
    }
    p->discovery = o.discovery;
    return true;
}

} // namespace zelvox
