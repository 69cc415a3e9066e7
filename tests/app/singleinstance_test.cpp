#include <gtest/gtest.h>

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <future>

#include "app/singleinstance.h"
#include "support/childprocess.h"
#include "support/files.h"
#include "tools/pathbytes.h"

namespace varko {
namespace {

using Status = handover::Decoded::Status;

QByteArray number(quint32 value) {
    char bytes[4];
    qToBigEndian(value, bytes);
    return QByteArray(bytes, 4);
}

/// A message with items given as raw bytes, well formed or not.
QByteArray message(const QList<QByteArray>& items, quint32 count) {
    QByteArray bytes = handover::magic.toByteArray() + number(count);
    for (const QByteArray& item : items) bytes += number(quint32(item.size())) + item;
    return bytes;
}

/// Waits for `future` while the event loop runs, so that a server here can answer.
template <class T>
T await(std::future<T>& future) {
    EXPECT_TRUE(QTest::qWaitFor(
        [&future] { return future.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        90000));
    return future.get();
}

TEST(HandOverMessage, RoundTripsPathsThatAreNotUtf8) {
    const QStringList paths{host::pathFromSystem("/tmp/Caf\xe9.app"), "/Users/x/Tool.pkg"};
    const handover::Decoded decoded = handover::decode(handover::encode(paths));
    EXPECT_EQ(decoded.status, Status::Complete);
    EXPECT_EQ(decoded.items, paths);
    EXPECT_EQ(host::pathToSystem(decoded.items.first()), QByteArray("/tmp/Caf\xe9.app"));

    const handover::Decoded bare = handover::decode(handover::encode({}));
    EXPECT_EQ(bare.status, Status::Complete);
    EXPECT_TRUE(bare.items.isEmpty());
}

TEST(HandOverMessage, EveryCutIsIncompleteNotMalformed) {
    const QByteArray whole = handover::encode({"/a/One.app", "/b/Two.pkg"});
    for (qsizetype size = 0; size < whole.size(); ++size)
        EXPECT_EQ(handover::decode(whole.first(size)).status, Status::Incomplete) << size;
}

TEST(HandOverMessage, MalformedMessagesAreRefusedWhole) {
    const QByteArray longest = '/' + QByteArray(handover::maxPathBytes - 1, 'a');
    EXPECT_EQ(handover::decode(message({longest}, 1)).status, Status::Complete);
    const struct {
        const char* what;
        QByteArray bytes;
    } cases[] = {
        {"another protocol", "GET / HTTP/1.1\r\n\r\n"},
        {"too many items", message({}, handover::maxItems + 1)},
        {"an empty path", message({""}, 1)},
        {"a path over the bound", message({longest + 'a'}, 1)},
        {"a relative path", message({"tmp/One.app"}, 1)},
        {"a NUL in a path", message({QByteArray("/a\0/b.app", 9)}, 1)},
        {"bytes after the last item", message({"/a.app"}, 1) + 'x'},
        {"more than a message can hold", QByteArray(handover::maxMessageBytes + 1, 'V')},
    };
    for (const auto& c : cases)
        EXPECT_EQ(handover::decode(c.bytes).status, Status::Malformed) << c.what;
    // Huge counts and lengths are refused before anything is allocated for them.
    EXPECT_EQ(handover::decode(message({}, 0xffffffffu)).status, Status::Malformed);
    EXPECT_EQ(
        handover::decode(handover::magic.toByteArray() + number(1) + number(0xffffffffu)).status,
        Status::Malformed);
}

TEST(HandOverMessage, RelativeItemsAreTakenFromTheCurrentFolder) {
    QTemporaryDir dir;
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.path()));
    const QString canonical = QDir::currentPath();
    EXPECT_EQ(absoluteItemPath("Some.app"), canonical + "/Some.app");
    EXPECT_EQ(absoluteItemPath("/x/Some.app"), "/x/Some.app");
    QDir::setCurrent(before);
}

class SingleInstanceTest : public ::testing::Test {
protected:
    QTemporaryDir runtime;  // made private (0700), as a user's runtime folder is
    QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    QString address;

    void SetUp() override {
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
        address = SingleInstance::defaultAddress();
        ASSERT_TRUE(address.startsWith(runtime.path() + "/"));
    }
    void TearDown() override { qputenv("XDG_RUNTIME_DIR", savedRuntime); }

    /// A second start in a thread of its own, as another process would be.
    std::future<SingleInstance::Start> startElsewhere(const QStringList& items) const {
        return std::async(std::launch::async, [address = address, items] {
            SingleInstance second(address);
            return second.start(items);
        });
    }
};

TEST_F(SingleInstanceTest, ASecondVarkoHandsItsItemsOverAndEnds) {
#ifdef Q_OS_MACOS
    GTEST_SKIP() << "the system hands a Mac app's later opens to the running one";
#endif
    SingleInstance running(address);
    ASSERT_EQ(running.start({}), SingleInstance::Start::Running);
    QSignalSpy received(&running, &SingleInstance::itemsReceived);

    // A name that is not UTF-8 must arrive as the same bytes.
    const QByteArray bundle = QFile::encodeName(runtime.path()) + "/Caf\xe9.app";
    ASSERT_EQ(::mkdir(bundle.constData(), 0700), 0);
    const std::vector<std::string> environment{"XDG_RUNTIME_DIR=" + runtime.path().toStdString(),
                                               "HOME=" + runtime.path().toStdString(),
                                               "QT_QPA_PLATFORM=offscreen"};
    auto second = std::async(std::launch::async, [&] {
        return testing::runProgram(
            {{VARKO_BIN_DIR "/varko", bundle.toStdString(), "/elsewhere/Tool.pkg"},
             environment,
             {},
             false});
    });
    const testing::Finished handed = await(second);
    EXPECT_EQ(handed.status, 0) << handed.err;
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0][0].toStringList(),
              (QStringList{host::pathFromSystem(bundle), "/elsewhere/Tool.pkg"}));

    // Started bare, it asks the running one to show itself.
    auto bare = std::async(std::launch::async, [&] {
        return testing::runProgram({{VARKO_BIN_DIR "/varko"}, environment, {}, false});
    });
    EXPECT_EQ(await(bare).status, 0);
    ASSERT_EQ(received.size(), 2);
    EXPECT_TRUE(received[1][0].toStringList().isEmpty());
}

TEST_F(SingleInstanceTest, TheSocketIsTheUsersAloneAndGoesWithTheVarkoThatMadeIt) {
    const QByteArray path = QFile::encodeName(address);
    {
        SingleInstance running(address);
        ASSERT_EQ(running.start({}), SingleInstance::Start::Running);
        struct stat st {};
        ASSERT_EQ(::lstat(path.constData(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
        EXPECT_EQ(st.st_mode & 077, 0u);
    }
    struct stat st {};
    EXPECT_NE(::lstat(path.constData(), &st), 0);
    // So the next start is the one that listens, without waiting on a dead socket.
    SingleInstance next(address);
    next.timeoutMs = 300;
    EXPECT_EQ(next.start({}), SingleInstance::Start::Running);
}

TEST_F(SingleInstanceTest, ASocketLeftByAVarkoThatDiedIsReplacedAndManyItemsComeInParts) {
    const QByteArray path = QFile::encodeName(address);
    sockaddr_un name{};
    name.sun_family = AF_UNIX;
    ASSERT_LT(size_t(path.size()), sizeof name.sun_path);
    std::memcpy(name.sun_path, path.constData(), size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&name), sizeof name), 0);
    ::close(fd);  // the file stays; nobody listens behind it

    SingleInstance running(address);
    ASSERT_EQ(running.start({}), SingleInstance::Start::Running);
    QSignalSpy received(&running, &SingleInstance::itemsReceived);
    auto second = startElsewhere({"/a/One.app"});
    EXPECT_EQ(await(second), SingleInstance::Start::HandedOver);
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0][0].toStringList(), QStringList{"/a/One.app"});

    // More items than one message may hold arrive in bounded ones.
    QStringList items;
    for (quint32 i = 0; i < handover::maxItems + 5; ++i) items << QString("/i/%1.app").arg(i);
    auto third = startElsewhere(items);
    EXPECT_EQ(await(third), SingleInstance::Start::HandedOver);
    ASSERT_EQ(received.size(), 3);
    EXPECT_EQ(received[1][0].toStringList() + received[2][0].toStringList(), items);
}

TEST_F(SingleInstanceTest, EightSendersAreReadAtOnceAndANinthIsTurnedAway) {
    SingleInstance running(address);
    running.timeoutMs = 60000;
    ASSERT_EQ(running.start({}), SingleInstance::Start::Running);
    std::vector<std::unique_ptr<QLocalSocket>> idle;
    const auto connectOne = [&] {
        idle.push_back(std::make_unique<QLocalSocket>());
        idle.back()->connectToServer(address);
        EXPECT_TRUE(idle.back()->waitForConnected(2000));
        QTest::qWait(50);  // accepted, and counted
    };
    for (int i = 0; i < 8; ++i) connectOne();
    connectOne();
    QLocalSocket* ninth = idle.back().get();
    EXPECT_TRUE(QTest::qWaitFor(
        [ninth] { return ninth->state() == QLocalSocket::UnconnectedState; }, 5000));
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(idle[size_t(i)]->state(), QLocalSocket::ConnectedState) << i;
    // A sender that ends makes room for the next, once the running Varko has seen it go.
    idle.front()->abort();
    QSignalSpy received(&running, &SingleInstance::itemsReceived);
    SingleInstance::Start last = SingleInstance::Start::Alone;
    for (int tries = 0; last != SingleInstance::Start::HandedOver && tries < 50; ++tries) {
        QTest::qWait(100);
        auto next = startElsewhere({"/a/One.app"});
        last = await(next);
    }
    EXPECT_EQ(last, SingleInstance::Start::HandedOver);
    EXPECT_EQ(received.size(), 1);
}

TEST_F(SingleInstanceTest, MalformedOrStalledMessagesAreDroppedUnanswered) {
    SingleInstance running(address);
    running.timeoutMs = 300;
    ASSERT_EQ(running.start({}), SingleInstance::Start::Running);
    QSignalSpy received(&running, &SingleInstance::itemsReceived);
    const auto answer = [this](const QByteArray& bytes) {
        QLocalSocket client;
        client.connectToServer(address);
        EXPECT_TRUE(client.waitForConnected(2000));
        client.write(bytes);
        EXPECT_TRUE(QTest::qWaitFor(
            [&client] { return client.state() == QLocalSocket::UnconnectedState; }, 5000));
        return client.readAll();
    };
    EXPECT_EQ(answer("GET / HTTP/1.1\r\n\r\n"), "");
    EXPECT_EQ(answer(message({"relative.app"}, 1)), "");
    EXPECT_EQ(answer(message({"/a.app"}, 2)), "");  // stalls: one item short
    // A flood is cut off at the bound, not read to its end.
    QByteArray flood = message({}, handover::maxItems);
    for (quint32 i = 0; i < handover::maxItems; ++i)
        flood += number(handover::maxPathBytes) + '/' + QByteArray(handover::maxPathBytes - 1, 'a');
    EXPECT_EQ(answer(flood + QByteArray(1 << 20, 'x')), "");
    EXPECT_TRUE(received.isEmpty());

    EXPECT_EQ(answer(handover::encode({"/a/One.app"})), QByteArray(1, handover::ack));
    ASSERT_EQ(received.size(), 1);
    EXPECT_EQ(received[0][0].toStringList(), QStringList{"/a/One.app"});
}

TEST_F(SingleInstanceTest, ASocketNobodyAnswersOnOrOfAnotherKindLeavesTheNewOneAlone) {
    {
        QLocalServer silent;  // accepts, never reads, never answers
        ASSERT_TRUE(silent.listen(address));
        SingleInstance second(address);
        second.timeoutMs = 300;
        EXPECT_EQ(second.start({"/a/One.app"}), SingleInstance::Start::Alone);
    }
    QFile::remove(address);
    ASSERT_TRUE(testing::writeFile(address));
    SingleInstance second(address);
    EXPECT_EQ(second.start({"/a/One.app"}), SingleInstance::Start::Alone);
    EXPECT_TRUE(QFile::exists(address));  // and not removed either
}

}  // namespace
}  // namespace varko
