#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QPlainTextEdit;
class QTimer;

// What the editor held when it was last saved for recovery.
struct RecoveredQuery
{
    QString text; // exactly as the editor held it
    QString fileName; // the query file it came from, or empty
    QByteArray encoding; // that file's encoding name, or empty
    int cursor = 0;
    QDateTime saved; // UTC
    QString path; // the recovery file it was read from
};

// Keeps the editor's unsaved text in a recovery file of this window's own, so that a crash, a
// kill or a power cut loses nothing: written atomically by a thread of its own, owner-only, in
// the user's data folder. A normal close removes it. A lock that the operating system drops
// when the process ends tells a running window's file from one whose window died. Owned by the
// window; UI thread only.
class EditorRecovery : public QObject
{
    Q_OBJECT

public:
    // folder: where recovery files live (created owner-only when missing).
    explicit EditorRecovery(const QString &folder, QObject *parent = nullptr);
    ~EditorRecovery() override; // ends the writer; leaves the file (a normal close discards it)

    static QString defaultFolder();

    // Recovery files whose windows are gone, newest first. Each one returned is locked by this
    // window from now on: no other window offers it while this one decides. What a dead window
    // left besides (the temporary file of a write it was killed in, a lock without a recovery
    // file) is removed on the way.
    QList<RecoveredQuery> orphans();
    // Offers the orphans, newest first, one question each (`ask` gets the orphan, its place
    // from 0 and their number; true: restore it), until one is taken: that one is adopted and
    // returned. The declined ones go at a normal close; those not offered once one was taken
    // are left as they are, for the next start or another window.
    using Ask = std::function<bool(const RecoveredQuery &orphan, int index, int count)>;
    std::optional<RecoveredQuery> offerOrphans(const Ask &ask);
    // Yes: the orphan becomes this window's own recovery file (its text is the editor's now).
    void adopt(const RecoveredQuery &orphan);
    // No: the file stays until this window closes normally, so a second mistake loses nothing.
    void keepAside(const RecoveredQuery &orphan);
    // Not offered: the orphan is no longer held and its file stays.
    void leave(const RecoveredQuery &orphan);

    // Saves the editor's state a few seconds after typing stops, while it holds changes that no
    // query file holds; snapshot() gives that state. Text that was saved to or loaded from a
    // file (fileSaved) is not kept until it changes again.
    void watch(QPlainTextEdit *editor, std::function<RecoveredQuery()> snapshot);
    void fileSaved(); // the editor's text is in a query file now: nothing to recover
    // Now (Run and Exec), when the editor holds unsaved changes: the text is gathered a slice at
    // a time between the window's events, then written on the writer thread.
    void saveNow();

    // The editor's state to keep; the write happens on the writer thread, the newest snapshot
    // winning over one not yet written.
    void save(const RecoveredQuery &snapshot);
    // Nothing to recover any more (saved to a file, emptied): this window's file goes.
    void clear();
    // A normal close: this window's file and the orphans the user declined go; the writer ends
    // first.
    void discard();

    QString path() const; // this window's recovery file
    // Waits until every snapshot handed to save() is on disk (tests and benchmarks).
    void flush();

    static bool write(const QString &path, const RecoveredQuery &query, QString *error);
    static bool read(const QString &path, RecoveredQuery *query);

signals:
    // A write failed (disk full, folder gone): the message says where and why. Reported once
    // until a write succeeds again.
    void writeFailed(const QString &message);

private:
    void gatherSlice();
    struct Writer;
    std::shared_ptr<Writer> m_writer;
    QString m_folder;
    QString m_id; // this window's file is <id>.recovery, its lock <id>.lock
    int m_lock = -1; // this window's lock, held while it runs
    struct Held
    {
        QString id;
        int lock;
        bool declined; // the user said No: the file goes at a normal close
    };
    QList<Held> m_held; // orphans this window locked and has not adopted or left
    QTimer *m_pause = nullptr; // owned (Qt parent): the pause after typing
    std::function<RecoveredQuery()> m_snapshot; // all but the text, which is gathered here
    QPlainTextEdit *m_editor = nullptr; // not owned: the watched editor
    QString m_gathered; // the text gathered so far
    int m_gatherBlock = 0; // the block the next slice starts at
    int m_gatherRevision = 0; // the document's revision when gathering began
    bool m_unsaved = false; // the editor changed since it was last saved, loaded or emptied
};
