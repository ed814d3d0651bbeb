#include "imap/CommandCreate.h"
#include "imap/CommandList.h"
#include "imap/CommandStatus.h"
#include "imap/ConnectionInternal.h"
#include "imap/ListExtension.h"
#include "ScriptedClient.h"

using tarmig::testing::ScriptedClientTest;
using tarmig::testing::ScriptedPeer;

TEST(ListExtension, BitsToCreateWord) {
    EXPECT_EQ(convertListExtension(0x7fffu), "X-ALL");
    EXPECT_EQ(convertListExtension(0xffffffffu), "X-ALL");
    EXPECT_EQ(convertListExtension(0x11u), "X-CONTACT");
    EXPECT_EQ(convertListExtension(0x20u), "X-MAPI");
    EXPECT_EQ(convertListExtension(0x80u), "X-SEARCH");
    EXPECT_EQ(convertListExtension(0x4u), "X-TODO");
    EXPECT_EQ(convertListExtension(0u), "");
    EXPECT_EQ(convertListExtension(0x100u), "");
}

TEST(ListExtension, FlagTextToBits) {
    EXPECT_EQ(convertListExtension(std::string("(\\ZenqaCalendar \\Noselect \\ZenqaContact)")),
              0x10003u);
    EXPECT_EQ(convertListExtension(std::string("(\\ZenqaNote \\ZenqaSearch \\ZenqaMapi)")), 0xe0u);
    EXPECT_EQ(convertListExtension(std::string("(\\HasChildren \\zenqamail)")), 0u);
}

using FolderWire = ScriptedClientTest;

TEST_F(FolderWire, CreateSendsTheTypeWordBeforeTheName) {
    const std::string expected =
        "T1 CREATE (X-CONTACT) \"Contacts\"\r\n"
        "T2 CREATE (X-CALENDAR) \"Calendar\"\r\n"
        "T3 CREATE (X-TODO) \"Tasks\"\r\n"
        "T4 CREATE (X-JOURNAL) \"Journal\"\r\n"
        "T5 CREATE (X-MAIL) \"Sent \\\"Old\\\"\"\r\n"
        "T6 CREATE (X-NOTE) \"Notes\"\r\n"
        "T7 CREATE \"Plain\"\r\n"
        "T8 CREATE \"Odd\"\r\n";
    for (int tag = 1; tag <= 8; ++tag) {
        std::string t = "T" + std::to_string(tag);
        peer.expect(t + " CREATE").expect("\r\n").send(t + (tag == 8 ? " NO exists\r\n" : " OK\r\n"));
    }
    start();
    using C = SimpleImapClient;
    EXPECT_EQ(client.createFolder("Contacts", C::FolderContact), C::Ok);
    EXPECT_EQ(client.createFolder("Calendar", C::FolderCalendar), C::Ok);
    EXPECT_EQ(client.createFolder("Tasks", C::FolderTask), C::Ok);
    EXPECT_EQ(client.createFolder("Journal", C::FolderJournal), C::Ok);
    EXPECT_EQ(client.createFolder("Sent \"Old\"", C::FolderMail), C::Ok);
    EXPECT_EQ(client.createFolder("Notes", C::FolderNote), C::Ok);
    EXPECT_EQ(client.createFolder("Plain", C::FolderNone), C::Ok);
    EXPECT_EQ(client.createFolder("Odd", static_cast<C::FolderType>(42)), C::CreateFolderFailed);
    EXPECT_EQ(sentAfterLogin(), expected);
}

TEST(CommandCreate, GuidOnlyWhenGiven) {
    ScriptedPeer peer(std::chrono::seconds(5));
    peer.send("* OK ready\r\n")
        .expect("T0 CREATE").expect("\r\n").send("T0 OK\r\n")
        .expect("T1 CREATE").expect("\r\n").send("T1 OK\r\n");
    peer.start();
    ConnectionInternal connection;
    connection.initialize("127.0.0.1", peer.port(), "u", "p", false, 5, false);
    connection.init(false);
    CommandCreate typed(connection.transport(), "Cal", 0x2, "g-1");
    CommandCreate untyped(connection.transport(), "Box", 0, "g-2");
    EXPECT_EQ(typed.getCommandString(), "T0 CREATE (X-CALENDAR GUID \"g-1\") \"Cal\"");
    EXPECT_EQ(untyped.getCommandString(), "T1 CREATE (GUID \"g-2\") \"Box\"");
    EXPECT_EQ(typed.execute(nullptr), Command::OK);
    EXPECT_EQ(untyped.execute(nullptr), Command::OK);
    EXPECT_EQ(peer.wait(), "");
}

TEST_F(FolderWire, SelectMovesToSelectedOnlyOnOk) {
    peer.expect("T1 SELECT \"INBOX\"\r\n")
        .send("* 3 EXISTS\r\n* FLAGS (\\Seen)\r\n* OK [UIDVALIDITY 7] ok\r\nT1 OK [READ-WRITE] done\r\n")
        .expect("T2 SELECT \"Nope\"\r\n")
        .send("T2 NO [NONEXISTENT] no such mailbox\r\n");
    start();
    EXPECT_EQ(client.select("INBOX"), SimpleImapClient::Ok);
    EXPECT_EQ(client.select("Nope"), SimpleImapClient::SelectFailed);
    EXPECT_EQ(sentAfterLogin(), "T1 SELECT \"INBOX\"\r\nT2 SELECT \"Nope\"\r\n");
}

TEST_F(FolderWire, ListKeepsSelectableFoldersInReplyOrder) {
    peer.expect("T1 LIST \"\" \"*\"\r\n")
        .send("* LIST (\\HasNoChildren) \"/\" INBOX\r\n"
              "* LIST (\\NOSELECT \\HasChildren) \"/\" Archive\r\n"
              "* LIST (\\Noselect) \"/\" \"Old Stuff\"\r\n"
              "* 4 EXISTS\r\n"
              "* LIST (\\ZenqaContact) \"/\" {11}\r\nMy Contacts\r\n"
              "* LSUB () \"/\" Archive/2004\r\n"
              "T1 OK done\r\n");
    start();
    std::vector<std::string> names{"stale"};
    EXPECT_EQ(client.list(names), SimpleImapClient::Ok);
    EXPECT_EQ(names, (std::vector<std::string>{"INBOX", "My Contacts", "Archive/2004"}));
    EXPECT_EQ(sentAfterLogin(), "T1 LIST \"\" \"*\"\r\n");
}

TEST_F(FolderWire, ListRefusedIsListFailed) {
    peer.expect("T1 LIST").expect("\r\n").send("T1 BAD nope\r\n");
    start();
    std::vector<std::string> names;
    EXPECT_EQ(client.list(names), SimpleImapClient::ListFailed);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(peer.wait(), "");
}

TEST(CommandList, WithoutNoSelectCheckEveryEntryIsSelectable) {
    ScriptedPeer peer(std::chrono::seconds(5));
    peer.send("* OK ready\r\n")
        .expect("T0 LIST \"ref\" \"%\"\r\n")
        .send("* LIST (\\Noselect) \".\" a\r\n* LIST () \".\" b\r\nT0 OK\r\n");
    peer.start();
    ConnectionInternal connection;
    connection.initialize("127.0.0.1", peer.port(), "u", "p", false, 5, false);
    connection.init(false);
    CommandList command(connection.transport(), "ref", "%");
    ASSERT_EQ(command.execute(nullptr), Command::OK);
    std::vector<FolderInfo> folders;
    EXPECT_EQ(command.getList(folders, false), 2);
    ASSERT_EQ(folders.size(), 2u);
    EXPECT_EQ(folders[0].name, "a");
    EXPECT_TRUE(folders[0].selectable);
    EXPECT_EQ(command.getList(folders, true), 2);
    EXPECT_FALSE(folders[0].selectable);
    EXPECT_TRUE(folders[1].selectable);
    EXPECT_EQ(peer.wait(), "");
}

TEST(ParseStatusMessages, OnlyAFirstMessagesPairCounts) {
    EXPECT_EQ(parseStatusMessages("INBOX (MESSAGES 42 UNSEEN 1)"), 42);
    EXPECT_EQ(parseStatusMessages("\"Sent Items\" (messages 7)"), 7);
    EXPECT_EQ(parseStatusMessages("INBOX (MESSAGES 0)"), 0);
    EXPECT_EQ(parseStatusMessages("INBOX (UNSEEN 3 MESSAGES 9)"), 0);
    EXPECT_EQ(parseStatusMessages("INBOX (MESSAGES)"), 0);
    EXPECT_EQ(parseStatusMessages("INBOX (MESSAGES x1)"), 0);
    EXPECT_EQ(parseStatusMessages("INBOX ()"), 0);
}

TEST_F(FolderWire, StatusCountsFromTheStatusReply) {
    peer.expect("T1 STATUS \"My Box\" (MESSAGES)\r\n")
        .send("* 1 EXISTS\r\n* STATUS \"My Box\" (MESSAGES 12)\r\nT1 OK\r\n")
        .expect("T2 STATUS \"INBOX\" (MESSAGES)\r\n")
        .send("* STATUS INBOX (UIDNEXT 5 MESSAGES 4)\r\nT2 OK\r\n")
        .expect("T3 STATUS \"Gone\" (MESSAGES)\r\n")
        .send("T3 NO no such mailbox\r\n");
    start();
    unsigned count = 99;
    EXPECT_EQ(client.status("My Box", count), SimpleImapClient::Ok);
    EXPECT_EQ(count, 12u);
    EXPECT_EQ(client.status("INBOX", count), SimpleImapClient::Ok);
    EXPECT_EQ(count, 0u);
    count = 99;
    EXPECT_EQ(client.status("Gone", count), SimpleImapClient::StatusFailed);
    EXPECT_EQ(count, 99u);
    EXPECT_EQ(peer.wait(), "");
}
