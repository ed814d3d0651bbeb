#include "imap/FetchMessage.h"
#include "ScriptedClient.h"

#include <sstream>

using tarmig::testing::ScriptedClientTest;
using tarmig::testing::ScriptedPeer;
using C = SimpleImapClient;

TEST(RemoveNonStandartFlags, KeepsStandardFlagsInTableOrder) {
    EXPECT_EQ(removeNonStandartFlags("\\Flagged $Label1 \\ZenqaMapi \\Seen"), "\\Seen \\Flagged");
    EXPECT_EQ(removeNonStandartFlags("\\SEEN"), "\\Seen");
    EXPECT_EQ(removeNonStandartFlags("\\recent \\draft \\deleted \\flagged \\answered \\seen"),
              "\\Seen \\Answered \\Flagged \\Deleted \\Draft \\Recent");
    EXPECT_EQ(removeNonStandartFlags("Seen $Forwarded"), "");
    EXPECT_EQ(removeNonStandartFlags(""), "");
}

TEST(FetchMessage, SizeNeedsAWholeNonZeroAnnouncement) {
    FetchMessage message;
    EXPECT_TRUE(message.setSize("{12}\r\n"));
    EXPECT_EQ(message.getSize(), 12);
    EXPECT_EQ(message.getFixedSize(), 12);
    EXPECT_TRUE(message.setSize("{5000000000}\r\n"));
    EXPECT_EQ(message.getSize(), 5000000000LL);
    for (const char* bad : {"{0}\r\n", "{12}", "{}\r\n", "12}\r\n", "{-5}\r\n", "{1x}\r\n", "{12\r\n"}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(message.setSize(bad));
        EXPECT_EQ(message.getSize(), 5000000000LL);
    }
}

TEST(FetchMessage, DataItemsAndFlagLists) {
    FetchMessage message;
    EXPECT_TRUE(message.setData("internaldate", "08-Dec-2026 15:18:05 +0000"));
    EXPECT_TRUE(message.setData("FLAGS", "(\\Seen Junk)"));
    EXPECT_FALSE(message.setData("UID", "4"));
    EXPECT_EQ(message.getDate(), "08-Dec-2026 15:18:05 +0000");
    EXPECT_EQ(message.getFlags(), "\\Seen");
    EXPECT_FALSE(message.setFlags("\\Draft"));
    EXPECT_EQ(message.getFlags(), "\\Seen");
    EXPECT_TRUE(message.setFlags("(\\Recent \\Draft)"));
    EXPECT_EQ(message.getFlags(), "\\Draft");
    EXPECT_TRUE(message.setFlags("(\\Recent)"));
    EXPECT_EQ(message.getFlags(), "");
    EXPECT_TRUE(message.setFlags("()"));
    EXPECT_EQ(message.getFlags(), "");
}

TEST(FetchMessage, BodyReplyFirstLine) {
    FetchMessage message;
    EXPECT_TRUE(message.parseResponse("* 3 FETCH (BODY[] {42}\r\n"));
    EXPECT_EQ(message.getSize(), 42);
    EXPECT_TRUE(message.parseResponse("* 3 fetch (body[] {7}\r\n"));
    EXPECT_FALSE(message.parseResponse("* 3 FETCH (FLAGS (\\Seen) BODY[] {7}\r\n"));
    EXPECT_FALSE(message.parseResponse("* 3 EXISTS\r\n"));
    EXPECT_FALSE(message.parseResponse("T4 OK done\r\n"));
    EXPECT_FALSE(message.parseResponse("* 3 FETCH (BODY[] {0}\r\n"));
}

TEST(LoadFetchResponse, DateFlagsAndBodyInAnyOrder) {
    FetchMessage message;
    EXPECT_TRUE(loadFetchResponse(
        "* 1 FETCH (FLAGS (\\Seen $Junk) INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" BODY[] {12}\r\n",
        message));
    EXPECT_EQ(message.getFlags(), "\\Seen");
    EXPECT_EQ(message.getDate(), "20-Feb-2004 12:34:56 +0000");
    EXPECT_EQ(message.getSize(), 12);
    EXPECT_TRUE(loadFetchResponse(
        "* 2 FETCH (INTERNALDATE \"01-Jan-2020 00:00:00 +0100\" BODY[] {3}\r\n", message));
    EXPECT_EQ(message.getFlags(), "");  // nothing left over from the previous message
    EXPECT_EQ(message.getDate(), "01-Jan-2020 00:00:00 +0100");
    EXPECT_FALSE(loadFetchResponse("* 3 FETCH (FLAGS (\\Seen) INTERNALDATE \"x\")\r\n", message));
    EXPECT_FALSE(loadFetchResponse("* 3 FETCH (UID 4 BODY[] {3}\r\n", message));
    EXPECT_FALSE(loadFetchResponse("* 3 EXISTS\r\n", message));
    EXPECT_FALSE(loadFetchResponse("* 3 FETCH FLAGS\r\n", message));
    EXPECT_EQ(message.getSize(), 0);
}

using FetchWire = ScriptedClientTest;

TEST_F(FetchWire, FetchReadsDateFlagsThenStreamsTheBody) {
    const std::string body(25000, 'x');
    peer.expect("T1 FETCH 1 (INTERNALDATE FLAGS)\r\n")
        .send("* 1 FETCH (INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" FLAGS (\\Seen $Junk))\r\n"
              "T1 OK done\r\n")
        .expect("T2 FETCH 1 BODY.PEEK[]\r\n")
        .send("* 1 FETCH (BODY[] {25000}\r\n" + body + ")\r\nT2 OK done\r\n")
        .expect("T3 SELECT \"INBOX\"\r\n")
        .send("T3 OK selected\r\n");
    start();
    FetchMessage message;
    ASSERT_EQ(client.fetch(1, message), C::Ok);
    EXPECT_EQ(message.getDate(), "20-Feb-2004 12:34:56 +0000");
    EXPECT_EQ(message.getFlags(), "\\Seen");
    std::string data, part;
    for (bool more = message.getFirstDataPart(part); more; more = message.getNextDataPart(part)) {
        EXPECT_LE(part.size(), 10240u);
        data += part;
    }
    EXPECT_EQ(data, body);
    // The body's completion is still on the connection; the next command reads past it.
    EXPECT_EQ(client.select("INBOX"), C::Ok);
    EXPECT_EQ(peer.wait(), "");
}

TEST_F(FetchWire, FetchWithoutDateOrFlagsFails) {
    peer.expect("T1 FETCH 9 (INTERNALDATE FLAGS)\r\n")
        .send("* 9 FETCH (INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" UID 4)\r\nT1 OK\r\n")
        .expect("T2 FETCH 9 (INTERNALDATE FLAGS)\r\n")
        .send("T2 BAD invalid message set\r\n");
    start();
    FetchMessage message;
    EXPECT_EQ(client.fetch(9, message), C::FetchFailed);
    EXPECT_EQ(client.fetch(9, message), C::FetchFailed);
    EXPECT_EQ(sentAfterLogin(),
              "T1 FETCH 9 (INTERNALDATE FLAGS)\r\nT2 FETCH 9 (INTERNALDATE FLAGS)\r\n");
}

namespace {

const char* const fetchAll = "A FETCH 1:* (INTERNALDATE FLAGS BODY.PEEK[])\r\n";
const char* const erase = "\b\b\b\b    \b\b\b\b";

// Two facades logged in to two scripted peers: the source and the target of a copy.
class CopyFolderTest : public ::testing::Test {
protected:
    CopyFolderTest() {
        for (ScriptedPeer* p : {&source, &target})
            p->send("* OK ready\r\n").expect("T0 LOGIN").expect("\r\n").send("T0 OK\r\n");
    }
    void TearDown() override {
        sourceClient.disconnect(false);
        targetClient.disconnect(false);
    }
    void start() {
        source.start();
        target.start();
        ASSERT_EQ(sourceClient.connect("127.0.0.1", source.port(), "u", "p", false), C::Ok);
        ASSERT_EQ(targetClient.connect("127.0.0.1", target.port(), "u", "p", false), C::Ok);
    }
    C::ImapClientResult copy(unsigned total, std::ostream* progress = nullptr) {
        return sourceClient.copyFolder("Copy", targetClient, copied, failed, progress, &lock,
                                       progress != nullptr, total);
    }

    ScriptedPeer source{std::chrono::seconds(5)};
    ScriptedPeer target{std::chrono::seconds(5)};
    SimpleImapClient sourceClient{5};
    SimpleImapClient targetClient{5};
    zenqa::tiny::KMutex lock;
    unsigned copied = 99;
    unsigned failed = 99;
};

}  // namespace

TEST_F(CopyFolderTest, StreamsEachMessageIntoTheTargetWithProgress) {
    source.expect(fetchAll)
        .send("* 1 FETCH (INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" FLAGS (\\Recent \\Seen $X) BODY[] {5}\r\n"
              "Hello)\r\n"
              "* 2 FETCH (FLAGS () INTERNALDATE \"21-Feb-2004 01:02:03 +0100\" BODY[] {7}\r\n"
              "a\r\nb\r\nc)\r\n"
              "A OK Fetch completed\r\n");
    const std::string expected =
        "T1 APPEND \"Copy\" (\\Seen) \"20-Feb-2004 12:34:56 +0000\" {5+}\r\nHello\r\n"
        "T2 APPEND \"Copy\" \"21-Feb-2004 01:02:03 +0100\" {7+}\r\na\r\nb\r\nc\r\n";
    target.expect("Hello\r\n").send("T1 OK\r\n").expect("c\r\n").send("T2 OK\r\n");
    start();
    std::ostringstream progress;
    EXPECT_EQ(copy(2, &progress), C::Ok);
    EXPECT_EQ(copied, 2u);
    EXPECT_EQ(failed, 0u);
    EXPECT_EQ(progress.str(), std::string("  0%") + erase + " 50%" + erase + "100%" + erase);
    EXPECT_EQ(source.wait(), "");
    EXPECT_EQ(target.wait(), "");
    EXPECT_EQ(target.connection(0).substr(target.connection(0).find("T1 APPEND")), expected);
}

TEST_F(CopyFolderTest, ZeroTotalShowsNoPercentage) {
    source.expect(fetchAll)
        .send("* 1 FETCH (INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" FLAGS () BODY[] {2}\r\nab)\r\n"
              "A OK done\r\n");
    target.expect("ab\r\n").send("T1 OK\r\n");
    start();
    std::ostringstream progress;
    EXPECT_EQ(copy(0, &progress), C::Ok);
    EXPECT_EQ(copied, 1u);
    EXPECT_EQ(progress.str(), "");
    EXPECT_EQ(source.wait(), "");
    EXPECT_EQ(target.wait(), "");
}

TEST_F(CopyFolderTest, EmptyFolderCopiesNothing) {
    source.expect(fetchAll).send("A OK nothing\r\n");
    start();
    EXPECT_EQ(copy(0), C::Ok);
    EXPECT_EQ(copied, 0u);
    EXPECT_EQ(failed, 0u);
    EXPECT_EQ(source.wait(), "");
    EXPECT_EQ(target.wait(), "");
}

TEST_F(CopyFolderTest, FetchLineWithoutBodyFailsAndCountsOne) {
    source.expect(fetchAll)
        .send("* 1 FETCH (INTERNALDATE \"20-Feb-2004 12:34:56 +0000\" FLAGS ())\r\nA OK\r\n");
    start();
    EXPECT_EQ(copy(1), C::FetchFailed);
    EXPECT_EQ(copied, 0u);
    EXPECT_EQ(failed, 1u);
    EXPECT_EQ(source.wait(), "");
}

TEST_F(CopyFolderTest, RefusedAppendStopsTheCopy) {
    source.expect(fetchAll)
        .send("* 1 FETCH (FLAGS () BODY[] {2}\r\nab)\r\n* 2 FETCH (FLAGS () BODY[] {2}\r\ncd)\r\n");
    target.expect("ab\r\n").send("T1 NO [OVERQUOTA] full\r\n");
    start();
    EXPECT_EQ(copy(2), C::AppendFailed);
    EXPECT_EQ(copied, 0u);
    EXPECT_EQ(failed, 1u);
    EXPECT_EQ(target.wait(), "");
}

TEST_F(CopyFolderTest, SourceEndingInsideTheLiteralIsNotAWholeCopy) {
    source.expect(fetchAll).send("* 1 FETCH (FLAGS () BODY[] {10}\r\nabc").closeConnection();
    // A lax target that accepted a short literal must not make it count as copied.
    target.expect("{10+}\r\n").send("T1 OK\r\n");
    start();
    EXPECT_EQ(copy(1), C::AppendFailed);
    EXPECT_EQ(copied, 0u);
    EXPECT_EQ(failed, 1u);
    EXPECT_EQ(source.wait(), "");
    EXPECT_EQ(target.wait(), "");
}

TEST_F(CopyFolderTest, AbortStopsAfterTheCurrentMessageAndCountsIt) {
    source.expect(fetchAll)
        .send("* 1 FETCH (FLAGS () BODY[] {2}\r\nab)\r\n* 2 FETCH (FLAGS () BODY[] {2}\r\ncd)\r\n"
              "A OK\r\n");
    target.expect("ab\r\n").send("T1 OK\r\n");
    start();
    sourceClient.abort();
    EXPECT_EQ(copy(2), C::Ok);
    EXPECT_EQ(copied, 1u);
    EXPECT_EQ(failed, 0u);
    EXPECT_EQ(target.wait(), "");
    EXPECT_EQ(target.connection(0).find("T2 APPEND"), std::string::npos);
}
