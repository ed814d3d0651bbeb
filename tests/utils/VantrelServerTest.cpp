#include "support/VantrelServer.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <regex>
#include <stdexcept>

#include "support/LoopbackClient.h"

using namespace tarmig::testing;

namespace {

std::string md5Hex(const std::string& input) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EVP_Digest(input.data(), input.size(), digest, &length, EVP_md5(), nullptr);
    static const char hex[] = "0123456789abcdef";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

std::string literal(const std::string& value) { return "{" + std::to_string(value.size()) + "+}\r\n" + value; }

// Sends one tagged command and returns its tagged completion line.
std::string command(LoopbackClient& client, const std::string& tag, const std::string& text) {
    client.send(tag + " " + text + "\r\n");
    for (;;) {
        std::string line = client.line();
        if (line.rfind(tag + " ", 0) == 0) return line;
    }
}

std::string masterAuth(LoopbackClient& client, const std::string& password) {
    client.send("M X-MASTERAUTH\r\n");
    std::smatch token;
    std::string continuation = client.line();
    if (!std::regex_search(continuation, token, std::regex("<[^>]*>"))) return continuation;
    client.send(md5Hex(token.str() + password) + "\r\n");
    return client.line();
}

}  // namespace

TEST(VantrelServer, RawProvisioningAndAppendShowInTheDump) {
    VantrelServer server({.arguments = {"--account", "bob@sales:old:pw"}});
    std::string name = "ann\xe9";
    // No NUL: a literal may not hold one, and the server would store 0x80.
    std::string body = std::string("Subject: x\nSOH ") + '\x01' + " and \xff\r\n";
    {
        LoopbackClient client(server.port());
        EXPECT_EQ(0u, client.line().rfind("* OK", 0));
        EXPECT_EQ("M OK", masterAuth(client, "master").substr(0, 4));
        EXPECT_EQ("T1 OK", command(client, "T1",
                                   "X-CREATEUSER (NAME " + literal(name) + " DOMAIN " + literal("sales") +
                                       " PASSWORD \"p\\\"w\" FULLNAME \"Ann E\")")
                               .substr(0, 5));
        EXPECT_EQ("T2 NO", command(client, "T2", "X-CREATEUSER (NAME {3+}\r\nbob DOMAIN {5+}\r\nsales PASSWORD \"x\")")
                               .substr(0, 5));
        EXPECT_EQ("T3 OK", command(client, "T3", "X-SETUSER " + literal(name + "@sales")).substr(0, 5));
        EXPECT_EQ("T4 OK", command(client, "T4", "CREATE (X-CONTACT) \"Contacts\"").substr(0, 5));
        EXPECT_EQ("T5 OK", command(client, "T5",
                                   "APPEND \"Contacts\" (\\Seen \\Flagged ) \"20-Feb-2004 12:34:56 +0000\" " +
                                       literal(body))
                               .substr(0, 5));
    }
    EXPECT_EQ(1u, server.dump().stats.appends) << "asked while the server runs";
    EXPECT_EQ(0, server.stop());

    VantrelDump dump = server.dump();
    ASSERT_EQ(2u, dump.accounts.size());
    const VantrelAccount* bob = dump.account("bob", "sales");
    ASSERT_NE(nullptr, bob);
    EXPECT_EQ("old:pw", bob->password);
    const VantrelAccount* ann = dump.account(name, "sales");
    ASSERT_NE(nullptr, ann);
    EXPECT_EQ("p\"w", ann->password);
    EXPECT_EQ("Ann E", ann->fullName);
    ASSERT_EQ(2u, ann->folders.size());
    EXPECT_EQ("INBOX", ann->folders[0].name);
    EXPECT_EQ("X-MAIL", ann->folders[0].type);
    const VantrelFolder* contacts = ann->folder("Contacts");
    ASSERT_NE(nullptr, contacts);
    EXPECT_EQ("X-CONTACT", contacts->type);
    ASSERT_EQ(1u, contacts->messages.size());
    const VantrelMessage& message = contacts->messages[0];
    EXPECT_EQ((std::vector<std::string>{"\\Seen", "\\Flagged"}), message.flags);
    EXPECT_EQ("20-Feb-2004 12:34:56 +0000", message.date);
    EXPECT_EQ("APPEND", message.via);
    EXPECT_EQ(body, message.data);
    EXPECT_EQ(body.size(), message.size);
    EXPECT_EQ(1u, dump.stats.masterLogins);
}

TEST(VantrelServer, PassesMasterPasswordAndServerOptions) {
    VantrelServerOptions options;
    options.masterPassword = "s3cret";
    options.arguments = {"--server-version", "5.9.1"};
    VantrelServer server(options);
    LoopbackClient wrong(server.port());
    wrong.line();
    EXPECT_EQ("M NO", masterAuth(wrong, "master").substr(0, 4));
    LoopbackClient right(server.port());
    right.line();
    EXPECT_EQ("M OK", masterAuth(right, "s3cret").substr(0, 4));
    EXPECT_EQ("V OK Vantrel 5.9.1\r\n", command(right, "V", "X-CHECKVERSION"));
}

TEST(VantrelServer, ServesTlsWithAGeneratedCertificate) {
    VantrelServerOptions options;
    options.tls = true;
    VantrelServer server(options);
    LoopbackClient client(server.port(), true);
    EXPECT_EQ(0u, client.line().rfind("* OK", 0));
    EXPECT_EQ("M OK", masterAuth(client, "master").substr(0, 4));
    EXPECT_EQ(1u, server.dump().stats.masterLogins) << "the live dump also speaks TLS";
}

TEST(VantrelServer, ReportsAServerThatDoesNotStart) {
    EXPECT_THROW(VantrelServer({.arguments = {"--no-such-option"}}), std::runtime_error);
}

TEST(VantrelDump, DecodesBytesAndRejectsMalformedText) {
    const std::string stats =
        "\"stats\": {\"connections\": 1, \"commands\": 2, \"appends\": 3, \"appendedBytes\": 4,"
        " \"refusedAppends\": 5, \"masterLogins\": 6, \"failedLogins\": 7, \"stores\": 8}";
    const std::string text =
        "{\"accounts\": [{\"name\": \"ann\\u00e9\", \"domain\": \"s\", \"password\": \"a\\\"b\\\\c\\r\\n\","
        " \"fullName\": \"\", \"groups\": [\"g\"], \"folders\": [{\"name\": \"INBOX\", \"type\": \"X-MAIL\","
        " \"guid\": \"\", \"messageCount\": 2, \"messages\": [{\"uid\": 1, \"flags\": [], \"date\": \"\","
        " \"internalDate\": \"d\", \"via\": \"X-APPEND\", \"size\": 2, \"data\": \"AP8=\"}, {\"uid\": 2,"
        " \"flags\": [\"\\\\Seen\"], \"date\": \"\", \"internalDate\": \"d\", \"via\": \"APPEND\", \"size\": 0,"
        " \"data\": \"\"}]}]}], " +
        stats + "}";
    VantrelDump dump = parseVantrelDump(text);
    ASSERT_EQ(1u, dump.accounts.size());
    EXPECT_EQ("ann\xe9", dump.accounts[0].name);
    EXPECT_EQ("a\"b\\c\r\n", dump.accounts[0].password);
    const auto& messages = dump.accounts[0].folders.at(0).messages;
    ASSERT_EQ(2u, messages.size());
    EXPECT_EQ(std::string("\0\xff", 2), messages[0].data);
    EXPECT_EQ("", messages[1].data);
    EXPECT_EQ((std::vector<std::string>{"\\Seen"}), messages[1].flags);
    EXPECT_EQ(7u, dump.stats.failedLogins);
    EXPECT_EQ(8u, dump.stats.stores);

    EXPECT_THROW(parseVantrelDump("{\"accounts\": [], " + stats + "} x"), std::runtime_error);
    EXPECT_THROW(parseVantrelDump("{\"accounts\": []}"), std::runtime_error);
    EXPECT_THROW(parseVantrelDump("{\"accounts\": [{\"name\": \"\\u0100\"}], " + stats + "}"), std::runtime_error);
    EXPECT_THROW(parseVantrelDump("{\"accounts\": [\"x\"], " + stats), std::runtime_error);
}
