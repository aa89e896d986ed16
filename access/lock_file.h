/*
 * Lock files under /tmp/harlowen_lockfiles, shared by the driver road (a CR
 * node with a BAR gateway) and the user-level road. The directory is open to
 * every user, so whatever stands at a lock file's name may have been planted
 * there; this is the one place that decides what may be used as a lock.
 */
#ifndef KELVRA_ACCESS_LOCK_FILE_H
#define KELVRA_ACCESS_LOCK_FILE_H

#define LOCK_FILE_DIR "/tmp/harlowen_lockfiles"

/* The step at which opening a lock file failed. */
enum lock_file_step {
    LOCK_STEP_TMP,  /* "/tmp" could not be made */
    LOCK_STEP_DIR,  /* the lock directory could not be made, or cannot be trusted */
    LOCK_STEP_FILE, /* the lock file could not be made, or cannot be trusted */
};

/* Opens the lock file `name` (a plain file name) in LOCK_FILE_DIR, making the
 * directories (mode 0777) and the file when missing, and returns its
 * descriptor (always above 0, close-on-exec), or -1 with errno and *failed
 * set. Neither the directory nor the file may be a link, and nothing is ever
 * opened in a way that blocks.
 *
 * A new lock file is made with mode 0600, so no other user can open it and
 * hold it. The directory must belong to root or the caller (else EPERM: its
 * owner could swap any entry); when others may write in it, it gets the
 * sticky bit so they cannot remove or rename the caller's lock files.
 * An existing name is used only when it is a regular file of root or the
 * caller, without group or other permissions and with one link. A name that
 * is not a regular file (a FIFO, a device, a link) is refused at once
 * (EINVAL, or ELOOP for a link); a regular file that fails the other tests
 * (someone else's, or one that others may open) is removed and made anew,
 * a bounded number of times (then EEXIST). */
int open_lock_file(const char* name, enum lock_file_step* failed);

#endif
