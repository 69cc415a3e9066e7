// Times the log browser's pipeline on a file of `log show --style json` output:
// parse, redisplay with all and with one category, RTF of everything.
//   bench_log_pipeline FILE                        run the stages on FILE
//   bench_log_pipeline --generate N FILE           write N realistic entries to FILE
//   bench_log_pipeline --generate-long MIB FILE    one message of MIB MiB between two entries
//   bench_log_pipeline --generate-messages N FILE  N entries of a 1000-byte message only
//   bench_log_pipeline --generate-empty N FILE     N empty objects, the smallest entries
//   bench_log_pipeline --qjson FILE                the QJsonDocument baseline alone
// Peak memory against the file's size: /usr/bin/time -v bench_log_pipeline FILE
#include <sys/resource.h>
#include <QByteArray>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

#include "logs/loglinemodel.h"
#include "logs/loglist.h"
#include "logs/logrtf.h"

using namespace varko::unifiedlog;

namespace {

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void stage(const char* name, double seconds, std::size_t entries) {
    std::printf("%s seconds=%.4f entries=%zu\n", name, seconds, entries);
    std::fflush(stdout);
}

// One entry as the platform's tool writes it: about thirty keys, a backtrace, and
// messages with line feeds, quotes, backslashes and non-ASCII text.
void writeEntry(std::string& out, std::mt19937_64& random, std::size_t index) {
    static const char* subsystems[] = {
        "com.apple.TCC", "com.apple.launchservices", "com.apple.securityd", "com.apple.sandbox", "",
        "com.apple.xpc"};
    static const char* images[] = {"/System/Library/PrivateFrameworks/TCC.framework/Support/tccd",
                                   "/usr/libexec/sandboxd",
                                   "/kernel",
                                   "/usr/libexec/securityd",
                                   "/System/Library/CoreServices/launchservicesd",
                                   "/Applications/Safari.app/Contents/MacOS/Safari"};
    // Already in JSON's escaped form, as they go into the document.
    static const char* messages[] = {
        R"(AUTHREQ_RESULT: msgID=412.1, authValue=2, authReason=4, authVersion=1, error=(null), )",
        R"(Sandbox: Safari(412) deny(1) file-read-data \/Users\/jane\/Library\/Mail\/V9\/\"quoted\" path)",
        R"(kernel: ARPT: 620586.043116: wl0: MDNS: IPV6 Addr: fe80::1c4f:2bff:fe6a:1d2e\nsecond line\tafter tab)",
        // One message, ending in a check mark as raw UTF-8.
        (R"(Handling access request to kTCCServiceCamera, from Sub:{com.zoom.xos} \u2014 Zoom f\u00fcr Mac \ud83d\udcf7 )"
         "\xE2\x9C\x93"),
        R"(SecTrustEvaluateIfNecessary: path C:\\Windows\\ ignored, \"quotes\" inside, done)",
    };
    std::uniform_int_distribution<int> pick(0, 5), pickMessage(0, 4), pid(1, 99999);
    const int s = pick(random);
    const int micro = int(index % 1000000);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "2024-03-%02d %02d:%02d:%02d.%06d+0100",
                  1 + int(index / 3600000 % 28), int(index / 360000 % 24), int(index / 6000 % 60),
                  int(index / 100 % 60), micro);
    char buffer[4096];
    std::snprintf(
        buffer, sizeof buffer,
        "{\n  \"traceID\" : %llu,\n  \"eventMessage\" : \"%s %zu\",\n  \"eventType\" : "
        "\"logEvent\",\n"
        "  \"source\" : null,\n  \"formatString\" : \"%%{public}s %%lu\",\n"
        "  \"activityIdentifier\" : %zu,\n  \"subsystem\" : \"%s\",\n  \"category\" : \"access\",\n"
        "  \"threadID\" : %llu,\n  \"senderImageUUID\" : "
        "\"1D2F43A3-7A0B-3A45-9C36-9B2D7E3F6A01\",\n"
        "  \"backtrace\" : {\n    \"frames\" : [\n      {\n        \"imageOffset\" : 96812,\n"
        "        \"imageUUID\" : \"1D2F43A3-7A0B-3A45-9C36-9B2D7E3F6A01\"\n      },\n      {\n"
        "        \"imageOffset\" : 1221,\n        \"imageUUID\" : "
        "\"6A2C1B9E-0F3D-3C2A-8E11-2B4C5D6E7F80\"\n"
        "      }\n    ]\n  },\n  \"bootUUID\" : \"\",\n  \"processImagePath\" : \"%s\",\n"
        "  \"timestamp\" : \"%s\",\n  \"senderImagePath\" : "
        "\"\\/usr\\/lib\\/system\\/libsystem_trace.dylib\",\n"
        "  \"machTimestamp\" : %llu,\n  \"messageType\" : \"%s\",\n"
        "  \"processImageUUID\" : \"B6F1C1D2-5E4A-3B6C-9D8E-7F6A5B4C3D2E\",\n  \"processID\" : "
        "%d,\n"
        "  \"senderProgramCounter\" : 96812,\n  \"parentActivityIdentifier\" : 0,\n"
        "  \"timezoneName\" : \"\"\n}",
        static_cast<unsigned long long>(random() >> 12), messages[pickMessage(random)], index,
        index, subsystems[s], static_cast<unsigned long long>(random() >> 40), images[pick(random)],
        stamp, static_cast<unsigned long long>(index) * 41666ULL,
        index % 7 == 0 ? "Info" : "Default", pid(random));
    out += buffer;
}

int generate(std::size_t count, const char* path) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    std::mt19937_64 random(42);
    std::string chunk = "[";
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) chunk += ',';
        writeEntry(chunk, random, i);
        if (chunk.size() > (1 << 20)) {
            file.write(chunk.data(), qint64(chunk.size()));
            chunk.clear();
        }
    }
    chunk += "]\n";
    file.write(chunk.data(), qint64(chunk.size()));
    return file.flush() ? 0 : 1;
}

// Writes what `write(chunk)` produces, in pieces of about a megabyte.
template <class Write>
int writeFile(const char* path, Write write) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        std::fprintf(stderr, "cannot write %s\n", path);
        return 1;
    }
    bool ok = true;
    write([&](const std::string& chunk) {
        ok = ok && file.write(chunk.data(), qint64(chunk.size())) == qint64(chunk.size());
    });
    return ok && file.flush() ? 0 : 1;
}

int generateLong(std::size_t mebibytes, const char* path) {
    return writeFile(path, [&](const auto& put) {
        std::mt19937_64 random(42);
        std::string chunk = "[";
        writeEntry(chunk, random, 0);
        chunk +=
            R"(,{"timestamp":"2024-03-01 00:00:00.000000+0100","subsystem":"com.apple.TCC","eventMessage":")";
        put(chunk);
        const std::string mebibyte(std::size_t(1) << 20, 'x');
        for (std::size_t i = 0; i < mebibytes; ++i) put(mebibyte);
        chunk = "\"},";
        writeEntry(chunk, random, 1);
        chunk += "]\n";
        put(chunk);
    });
}

// Entries that are all message, the most text per byte of output.
int generateMessages(std::size_t count, const char* path) {
    return writeFile(path, [&](const auto& put) {
        const std::string text(1000, 'm');
        std::string chunk = "[";
        for (std::size_t i = 0; i < count; ++i) {
            chunk += R"({"eventMessage":")" + text + (i + 1 < count ? "\"}," : "\"}");
            if (chunk.size() > (1 << 20)) put(chunk), chunk.clear();
        }
        put(chunk + "]\n");
    });
}

int generateEmpty(std::size_t count, const char* path) {
    return writeFile(path, [&](const auto& put) {
        put("[");
        std::string chunk;
        for (std::size_t i = 0; i < count; ++i) {
            chunk += i + 1 < count ? "{}," : "{}";
            if (chunk.size() > (1 << 20)) put(chunk), chunk.clear();
        }
        put(chunk + "]\n");
    });
}

QByteArray readAll(const char* path) {
    QFile file(QString::fromLocal8Bit(path));
    if (!file.open(QIODevice::ReadOnly)) return {};
    QByteArray bytes;
    bytes.resize(file.size());
    if (file.read(bytes.data(), file.size()) != file.size()) return {};
    return bytes;
}

int runStages(const char* path) {
    QByteArray bytes = readAll(path);
    if (bytes.isEmpty()) {
        std::fprintf(stderr, "cannot read %s\n", path);
        return 1;
    }
    const auto fileBytes = bytes.size();

    auto start = std::chrono::steady_clock::now();
    auto list = std::make_shared<const LogList>(bytes);
    stage("parse", secondsSince(start), list->children.size());
    std::printf("skipped=%llu\n", static_cast<unsigned long long>(list->summary.skipped));
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("parse_peak_rss_mb=%.1f\n", double(usage.ru_maxrss) / 1024.0);
    bytes = QByteArray();  // the window lets go of the tool's output once parsed

    LogLineModel model;
    const LogDisplay& display = model.display();
    // A redisplay is the filtering plus the lines of one screen, read as the view does.
    const auto redisplay = [&](CategoryFilter filter) {
        const auto t = std::chrono::steady_clock::now();
        model.showEntries(list, filter, 12);
        std::size_t chars = 0;
        for (int row = 0; row < std::min(60, model.rowCount()); ++row)
            for (const LineSegment& s : model.segments(row)) chars += std::size_t(s.text.size());
        if (chars == std::size_t(-1)) std::puts("");
        return secondsSince(t);
    };
    double seconds = redisplay({});
    stage("showLogs_all", seconds, display.shownEntries().size());
    seconds = redisplay({true, false, false, false});
    stage("showLogs_one", seconds, display.shownEntries().size());

    model.showEntries(list, {}, 12);
    start = std::chrono::steady_clock::now();
    const std::string rtf = logRtf(display);
    stage("rtf", secondsSince(start), display.shownEntries().size());
    std::printf("rtf_mb=%.1f\n", double(rtf.size()) / 1e6);

    getrusage(RUSAGE_SELF, &usage);
    std::printf("file_mb=%.1f\npeak_rss_mb=%.1f\n", double(fileBytes) / 1e6,
                double(usage.ru_maxrss) / 1024.0);
    return 0;
}

int qjsonBaseline(const char* path) {
    const QByteArray bytes = readAll(path);
    const auto start = std::chrono::steady_clock::now();
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    const double seconds = secondsSince(start);
    if (error.error != QJsonParseError::NoError) {
        std::printf("qjson error=%s\n", qPrintable(error.errorString()));
        return 1;
    }
    stage("qjson_parse", seconds, std::size_t(document.array().size()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Fonts are part of a line's data, so a GUI application object must exist.
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QGuiApplication app(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "--generate") == 0)
        return generate(std::strtoull(argv[2], nullptr, 10), argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "--generate-long") == 0)
        return generateLong(std::strtoull(argv[2], nullptr, 10), argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "--generate-messages") == 0)
        return generateMessages(std::strtoull(argv[2], nullptr, 10), argv[3]);
    if (argc == 4 && std::strcmp(argv[1], "--generate-empty") == 0)
        return generateEmpty(std::strtoull(argv[2], nullptr, 10), argv[3]);
    if (argc == 3 && std::strcmp(argv[1], "--qjson") == 0) return qjsonBaseline(argv[2]);
    if (argc == 2) return runStages(argv[1]);
    std::fprintf(
        stderr,
        "usage: %s FILE | --generate[-messages|-empty] N FILE | --generate-long MIB FILE | "
        "--qjson FILE\n",
        argv[0]);
    return 2;
}
