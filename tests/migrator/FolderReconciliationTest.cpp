#include "imap/TargetMessage.h"
#include "migrator/FolderReconciliation.h"

#include <gtest/gtest.h>

// Which store messages a folder still needs, and which flags to set.
namespace {

using tarmig::FolderReconciliation;
using tarmig::MessageKey;
using tarmig::StoreMessageState;
using tarmig::reconcileFolder;
using Flags = std::vector<std::string>;

constexpr std::time_t day1 = 1077280496;  // 20-Feb-2004 12:34:56 +0000
constexpr std::time_t day2 = day1 + 86400;
constexpr std::time_t runTime = 1765400000;

StoreMessageState stored(std::optional<std::time_t> arrival, std::uint64_t size,
                         std::optional<std::string> id, std::string flags = "") {
    return {MessageKey{arrival, size, std::move(id)}, std::move(flags)};
}

TargetMessage held(std::uint32_t uid, std::optional<std::time_t> arrival, std::uint64_t size,
                   std::optional<std::string> id, Flags flags = {}) {
    TargetMessage message;
    message.uid = uid;
    message.arrival = arrival;
    message.size = size;
    message.messageId = std::move(id);
    message.flags = std::move(flags);
    return message;
}

std::vector<std::uint32_t> updatedUids(const FolderReconciliation& plan) {
    std::vector<std::uint32_t> uids;
    for (const auto& update : plan.flagUpdates) uids.push_back(update.uid);
    return uids;
}

TEST(ReconcileFolder, EmptyTargetSendsAllAndACompleteOneNothing) {
    const std::vector<StoreMessageState> store = {stored(day1, 10, "<a@x>", "\\Seen "), stored(day2, 20, {}),
                                                  stored({}, 30, "<c@x>")};
    FolderReconciliation plan = reconcileFolder(store, {});
    EXPECT_EQ(plan.toSend, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_EQ(plan.alreadyPresent, 0u);
    EXPECT_EQ(plan.notInStore, 0u);

    plan = reconcileFolder(store, {held(4, day1, 10, "<a@x>", {"\\Seen"}), held(5, day2, 20, {}),
                                   held(6, runTime, 30, "<c@x>")});
    EXPECT_TRUE(plan.toSend.empty());
    EXPECT_TRUE(plan.flagUpdates.empty());
    EXPECT_EQ(plan.alreadyPresent, 3u);
    EXPECT_EQ(plan.notInStore, 0u);
}

TEST(ReconcileFolder, EveryKeyCountsAndNoMessageIdIsNotAnEmptyOne) {
    const std::vector<StoreMessageState> store = {stored(day1, 10, "<a@x>"), stored(day1, 10, {}),
                                                  stored(day1, 10, "")};
    FolderReconciliation plan = reconcileFolder(store, {held(1, day2, 10, "<a@x>"), held(2, day1, 11, "<a@x>"),
                                                        held(3, day1, 10, "<b@x>"), held(4, day1, 10, "")});
    EXPECT_EQ(plan.toSend, (std::vector<std::size_t>{0, 1}));
    EXPECT_EQ(plan.alreadyPresent, 1u);
    EXPECT_EQ(plan.notInStore, 3u);
}

TEST(ReconcileFolder, RepeatedKeysPairInStoreOrderAgainstUidOrder) {
    // Three copies of one message in the store, two of them on the target
    // (a run that ended after two appends).
    const std::vector<StoreMessageState> store = {stored(day1, 10, "<same@x>", "\\Seen "),
                                                  stored(day1, 10, "<same@x>", ""),
                                                  stored(day1, 10, "<same@x>", "\\Flagged ")};
    FolderReconciliation plan =
        reconcileFolder(store, {held(3, day1, 10, "<same@x>", {"\\Seen"}), held(8, day1, 10, "<same@x>", {"\\Seen"})});
    EXPECT_EQ(plan.toSend, (std::vector<std::size_t>{2}));
    EXPECT_EQ(plan.alreadyPresent, 2u);
    ASSERT_EQ(updatedUids(plan), (std::vector<std::uint32_t>{8}));
    EXPECT_TRUE(plan.flagUpdates[0].flags.empty()) << "the second copy is not seen in the store";

    plan = reconcileFolder({store[0]}, {held(3, day1, 10, "<same@x>"), held(8, day1, 10, "<same@x>")});
    EXPECT_TRUE(plan.toSend.empty());
    EXPECT_EQ(plan.notInStore, 1u);
    EXPECT_EQ(updatedUids(plan), (std::vector<std::uint32_t>{3}));
}

TEST(ReconcileFolder, UndatedMessagesMatchWhateverTheTargetDateAfterTheDatedOnes) {
    // In store order the undated message comes first; matched first it would
    // take UID 1, the copy of the dated one, which would then be sent again.
    const std::vector<StoreMessageState> store = {stored({}, 10, "<m@x>", "\\Draft "), stored(day1, 10, "<m@x>")};
    FolderReconciliation plan =
        reconcileFolder(store, {held(1, day1, 10, "<m@x>"), held(2, runTime, 10, "<m@x>", {"\\Draft"})});
    EXPECT_TRUE(plan.toSend.empty());
    EXPECT_TRUE(plan.flagUpdates.empty()) << "each paired with its own copy";

    plan = reconcileFolder({stored({}, 10, "<m@x>"), stored({}, 10, "<m@x>"), stored({}, 12, "<m@x>")},
                           {held(4, day2, 10, "<m@x>"), held(5, {}, 12, "<m@x>")});
    EXPECT_EQ(plan.toSend, (std::vector<std::size_t>{1}));
    EXPECT_EQ(plan.alreadyPresent, 2u);
}

TEST(ReconcileFolder, DatedMessagesDoNotMatchUndatedCopies) {
    FolderReconciliation plan = reconcileFolder({stored(day1, 10, "<m@x>")}, {held(1, runTime, 10, "<m@x>")});
    EXPECT_EQ(plan.toSend, (std::vector<std::size_t>{0}));
    EXPECT_EQ(plan.notInStore, 1u);
}

TEST(FlagsToStore, TheStoreWinsOnSystemFlagsOnly) {
    Flags update;
    EXPECT_FALSE(tarmig::flagsToStore("\\Seen \\Answered ", {"\\answered", "\\SEEN", "\\Recent"}, update))
        << "order, letter case and \\Recent make no difference";
    EXPECT_TRUE(update.empty());
    EXPECT_FALSE(tarmig::flagsToStore("\\Recent ", {}, update));
    EXPECT_FALSE(tarmig::flagsToStore("", {"$Forwarded", "\\ZenqaPrivate"}, update))
        << "keywords and the server's own flags are not the store's to judge";

    EXPECT_TRUE(tarmig::flagsToStore("\\Draft \\Seen \\Recent ", {"$Label1", "\\Flagged", "\\Recent", "\\ZenqaPrivate"},
                                     update));
    EXPECT_EQ(update, (Flags{"\\Seen", "\\Draft", "$Label1"}));
    EXPECT_TRUE(tarmig::flagsToStore("", {"\\Deleted"}, update));
    EXPECT_TRUE(update.empty());
    EXPECT_TRUE(tarmig::flagsToStore("\\Seen \\Deleted \\Answered \\Flagged \\Draft ", {}, update));
    EXPECT_EQ(update, (Flags{"\\Seen", "\\Deleted", "\\Answered", "\\Flagged", "\\Draft"}));
}

TEST(MessageKey, StoreDateTextBecomesTheArrivalTime) {
    EXPECT_EQ(tarmig::storeMessageKey("20-Feb-2004 12:34:56 +0000", 5, "<a@x>"), (MessageKey{day1, 5, "<a@x>"}));
    EXPECT_EQ(tarmig::storeMessageKey("", 5, {}), (MessageKey{{}, 5, {}}));
    TargetMessage copy = held(9, day1, 5, "<a@x>");
    copy.internalDate = "20-Feb-2004 13:34:56 +0100";
    EXPECT_EQ(tarmig::targetMessageKey(copy), tarmig::storeMessageKey("20-Feb-2004 12:34:56 +0000", 5, "<a@x>"));
}

}  // namespace
