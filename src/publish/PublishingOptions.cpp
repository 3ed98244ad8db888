#include "publish/PublishingOptions.h"

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

bool MakePublisherOptions(const PublishingOptions& o, const std::string& portName, PublisherOptions* p,
                          std::string* error) {
    p->target.caFile = o.caFile;
    p->target.certFile = o.certFile;
    p->target.keyFile = o.keyFile;
    if (!ParseMqttUrl(o.url, p->target, error) || !CompleteMqttTarget(p->target, o.passwordFile, error))
        return false;
    char host[256] = {};
    ::gethostname(host, sizeof host - 1);
    p->clientId = o.clientId.empty() ? DefaultMqttClientId(host, portName) : o.clientId;
    p->discovery = o.discovery;
    return true;
}

} // namespace zelvox
