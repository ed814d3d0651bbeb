#pragma once

// Folder types of the target server. The store derives them from folder
// classes and the IMAP client sends them with CREATE; SimpleImapClient
// re-exports them as SimpleImapClient::FolderType.
enum class ImapFolderType {
    FolderNone = 0,
    FolderContact = 1,
    FolderCalendar = 2,
    FolderTask = 3,
    FolderJournal = 4,
    FolderMail = 5,
    FolderNote = 6,
};
