/*
 * mdwdll: recovery of damaged project-scheduling files (.mpp, versions 9, 12
 * and 14) into Project XML.
 *
 * Calling order: DllInitialize and SetLogPath (both required), optionally
 * SetOutputFormat and UseExternStatusStrings, SetBreakFlag, then FileRecover,
 * then RecoveryReport. GetDllVersion and GetSupportedExtensions may be called
 * at any time. One FileRecover runs at a time per process; callbacks run on
 * the thread that called FileRecover. Every text is UTF-16, zero-terminated.
 */
#ifndef MDWDLL_H
#define MDWDLL_H

#include <stdint.h>

#ifdef __cplusplus
#define MDW_EXTERN extern "C"
#else
#define MDW_EXTERN extern
#endif
#define MDW_API MDW_EXTERN __attribute__((visibility("default")))

#ifndef __cplusplus
#include <uchar.h>
#endif

/* Results of FileRecover. */
enum {
  MDW_OK = 0,                 /* the project was read and the XML written */
  MDW_ERR_OPEN_REPAIRED = -1, /* the repaired file is not a compound file the parser can open */
  MDW_ERR_GENERAL = -2,       /* not initialised, unreadable input, no output name, output failed */
  MDW_ERR_NOTHING = -3,       /* empty input, salvage failed, unknown version, nothing found */
  MDW_ERR_WRITE = -5,         /* a pass could not write the recovered data */
  MDW_ERR_PATH_TOO_LONG = -31,/* the output path is too long */
  MDW_ERR_CANCELLED = -1000   /* the host set the cancel byte */
};

/* Receives a status text (valid during the call only). */
typedef void (*StatusCallback)(const char16_t* text);
/* Receives a text (may be empty) and the overall progress 0..100. */
typedef void (*ProgressCallback)(const char16_t* text, int32_t percent);

/* Stores the work folder (no trailing slash; empty: the system's temporary
 * folder, $TMPDIR or /tmp) and both callbacks; may be called again, the
 * last call wins. Returns 1. FileRecover checks that the work folder can be
 * written before it starts (MDW_ERR_GENERAL otherwise). */
MDW_API int32_t DllInitialize(const char16_t* workFolder, StatusCallback status,
                              ProgressCallback progress);
/* Stores the diagnostics log path. Required before the first run. An empty
 * text means no log for a host that never set one; after a run with a log,
 * the log stays open and the next runs keep appending to it. A symbolic link
 * in the log's place is not followed (the log is then not written). */
MDW_API void SetLogPath(const char16_t* path);
/* Extension given to composed output names: "*.xml" stores ".xml", "*.*"
 * keeps the input's extension; texts of 0 or 1 characters are ignored. */
MDW_API void SetOutputFormat(const char16_t* format);
/* From now on the status callback receives resource keys
 * ("App/Resources/DllStrings/mdw/Pass1"...) instead of English texts. */
MDW_API void UseExternStatusStrings(unsigned char useKeys);
/* Registers the host's cancel byte: non-zero asks the run to stop (-1000).
 * FileRecover clears it when a run starts. */
MDW_API void SetBreakFlag(unsigned char* flag);
/* Returns 2. */
MDW_API int32_t GetDllVersion(void);
/* Copies "*.mpp" (6 characters with the zero) into buffer unless it is null. */
MDW_API void GetSupportedExtensions(char16_t* buffer);
/* Recovers input into Project XML. output is an existing folder (the file
 * name is composed from the input's: its base name and the output format,
 * "plan.xml", then "plan(2).xml" ... "plan(999).xml" when taken; a symbolic
 * link counts as taken) or the output file itself; the XML goes to that path
 * with its last three characters replaced by "xml". Paths are the system's
 * bytes (bytes that are not UTF-8 travel as U+DC80..U+DCFF); a path over
 * 4095 bytes or a name over 255 gives MDW_ERR_PATH_TOO_LONG.
 * The output's folder and name are checked before the recovery starts. The
 * document is written under a temporary name in the output's folder
 * (".mdw-<random>.partial.xml"), flushed to disk, and given its name only
 * when complete, never over an existing file (see SetReplaceOutput): after
 * any result but MDW_OK there is no document and no temporary file.
 * Returns one of the MDW_ codes above; GetLastErrorText says why. */
MDW_API int32_t FileRecover(const char16_t* input, const char16_t* output);
/* Hands out the report of the runs so far as four column arrays of texts,
 * each ended by a null entry; row 0 holds the recovery level (1..3) in
 * column 2. Valid until the next call. Returns 0.
 * Rows per run: first, when the input was cut short (shorter than the
 * sectors its allocation table uses), a row "File cut" with column 1
 * "<file size> of <size the table accounts for> bytes", column 2 "lost"
 * and column 3 the reason; then the counts written ("Tasks", "Constraints" (links),
 * "Resources", "Assignments"; column 2 empty, left out when 0), then one
 * loss row per kind of data: column 0 "Tasks recovered", "Resources
 * recovered", "Assignments recovered", "Links recovered", "Calendars
 * recovered", "Notes recovered", "Custom values recovered"; column 1
 * "<recovered> of <held>" (what the file's structure says it held; just
 * "<recovered>" when it no longer says); column 2 "whole" or "lost";
 * column 3 the reason in words (a blank when whole). The task counts of the
 * loss rows leave out the project's own summary row.
 * The level: 3 when nothing was lost; 1 when little was recovered (no task
 * and no resource, or with losses no task or fewer than half the tasks the
 * file held); 2 otherwise (recovered with losses). */
MDW_API int32_t RecoveryReport(char16_t*** column0, char16_t*** column1,
                               char16_t*** column2, char16_t*** column3);

/* Additions beyond the nine exports above. */

/* Keeps the repaired compound file of the next runs at this path (it must
 * not exist yet); null or empty: the repaired file is removed after a run. */
MDW_API void SetKeepRepairedPath(const char16_t* path);
/* Copies the path of the XML file of the last run (zero-terminated, cut to
 * capacity) into buffer and returns its length, or 0 if no run composed one.
 * After MDW_OK it names the document written (with a composed name, the
 * first name free when the document was finished: another run writing into
 * the same folder may have taken the one free at the start); after any
 * other result there is no document and it returns 0. */
MDW_API int32_t GetLastOutputPath(char16_t* buffer, int32_t capacity);
/* Whether the log gets the per-element lines of the XML writer (the tag,
 * value and close tag of every element written): nonzero on, the default;
 * 0 off. They make a log many times the size of the document. */
MDW_API void SetXmlDetailLog(unsigned char on);

/* Non-zero: every task is written manually scheduled, with the dates the
 * file stores, so that a scheduler importing the document keeps them as
 * they are. Zero (the default): each task keeps its own mode, and a
 * scheduler reschedules the automatic ones from their links, constraints
 * and calendars. */
MDW_API void SetFreezeDates(unsigned char on);

/* Copies what went wrong in the last run, with the system's reason, into
 * buffer (zero-terminated, cut to capacity) and returns its length; 0 after
 * a run that succeeded. Examples: "open /data/plan.mpp: No such file or
 * directory", "output /out/plan.xml: File exists", "write /out/plan.xml:
 * No space left on device". Paths are given as the host gave them. */
MDW_API int32_t GetLastErrorText(char16_t* buffer, int32_t capacity);
/* Nonzero: an output that names a file may replace an existing file of
 * that name (atomically: the old file stays whole until the new document
 * is complete). 0, the default: an existing file is never replaced and the
 * run fails with MDW_ERR_GENERAL before it starts. Composed names never
 * replace anything. */
MDW_API void SetReplaceOutput(unsigned char on);
/* Removes the temporary files of a run under way (the partial document and
 * the rebuilt container). Safe to call from a signal handler: a host that
 * must end at once calls it before _exit so that nothing is left behind. */
MDW_API void DiscardPendingFiles(void);

#endif /* MDWDLL_H */
