// The Qt-free core on Windows: listing, the no-replace rename, both passes, the journal, the mount
// lookup, the pass lock and the error causes, each against the real system calls in a temporary
// folder. Prints one line per check and a closing "N passed, N failed"; exits non-zero when any
// check failed. Leaves nothing behind: the state folder it uses is a temporary one too.

#include "browse/mountinfo.h"
#include "browse/musicfilelist.h"
#include "browse/oserror.h"
#include "journal/journal.h"
#include "journal/journalfile.h"
#include "journal/passlock.h"
#include "journal/statefolder.h"
#include "passes/passes.h"
#include "passes/recoveryplan.h"
#include "passes/rename.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace korvalo;

namespace {

int g_passed = 0;
int g_failed = 0;

void check(bool ok, const std::string &what, const std::string &detail = {})
{
    if (ok) {
        ++g_passed;
        std::printf("ok   %s\n", what.c_str());
    } else {
        ++g_failed;
        std::printf("FAIL %s%s%s\n", what.c_str(), detail.empty() ? "" : ": ", detail.c_str());
    }
    std::fflush(stdout);
}

std::string utf8(const fs::path &p)
{
    const std::u8string text = p.u8string();
    return std::string(text.begin(), text.end());
}

fs::path fromUtf8(const std::string &text)
{
    return fs::path(std::u8string(text.begin(), text.end()));
}

std::string join(const std::vector<std::string> &names)
{
    std::string out;
    for (const std::string &n : names)
        out += (out.empty() ? "" : ", ") + n;
    return "[" + out + "]";
}

void writeFile(const fs::path &file, const std::string &content)
{
    std::ofstream out(file, std::ios::binary);
    out << content;
}

std::string contentOf(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return "<missing>";
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The folder's files (not folders), bare names in UTF-8, sorted.
std::vector<std::string> filesIn(const fs::path &folder)
{
    std::vector<std::string> out;
    for (const auto &e : fs::directory_iterator(folder))
        if (e.is_regular_file())
            out.push_back(utf8(e.path().filename()));
    std::sort(out.begin(), out.end());
    return out;
}

// Each file's content by name, to check that renames moved contents and lost none.
std::map<std::string, std::string> contentsIn(const fs::path &folder)
{
    std::map<std::string, std::string> out;
    for (const std::string &name : filesIn(folder))
        out[name] = contentOf(folder / fromUtf8(name));
    return out;
}

std::vector<std::string> listed(const MusicFileList &list)
{
    std::vector<std::string> out;
    for (int i = 0; i < list.count(); ++i)
        out.emplace_back(list.nameView(i));
    return out;
}

bool setAttributes(const fs::path &file, DWORD attributes)
{
    return ::SetFileAttributesW(file.c_str(), attributes) != 0;
}

// A new empty folder under the temporary folder.
fs::path freshFolder(const fs::path &root, const std::wstring &name)
{
    const fs::path folder = root / name;
    fs::create_directories(folder);
    return folder;
}

// Every shuffled name is "dddd" + an original name with the first digit not 0, and each original
// content is under exactly one shuffled name.
bool shuffledFrom(const std::map<std::string, std::string> &before,
                  const std::map<std::string, std::string> &after, std::string &why)
{
    if (after.size() != before.size()) {
        why = std::to_string(after.size()) + " files after, " + std::to_string(before.size()) +
              " before";
        return false;
    }
    for (const auto &[name, content] : after) {
        const bool digits = name.size() > 4 && name[0] >= '1' && name[0] <= '9' &&
                            std::all_of(name.begin(), name.begin() + 4,
                                        [](char c) { return c >= '0' && c <= '9'; });
        const auto was = before.find(name.substr(4));
        if (!digits || was == before.end() || was->second != content) {
            why = "unexpected " + name;
            return false;
        }
    }
    return true;
}

struct Pass
{
    PassResult result;
    std::map<std::string, std::string> after;
};

// A shuffle or a removal of the folder, and its files after it.
Pass runPass(const fs::path &folder, PassKind kind)
{
    MusicFileList list;
    list.setFolder(folder);
    FixedFolder source(folder);
    NullProgress progress;
    ClockRandomSource random;
    Pass pass;
    pass.result = kind == PassKind::Shuffle ? runShufflePass({list, source, progress}, random)
                                            : runRemovalPass({list, source, progress});
    pass.after = contentsIn(folder);
    return pass;
}

std::string statusText(const PassResult &r)
{
    static const char *names[] = {"EmptyList", "Completed", "Failed", "Stopped", "Refused"};
    std::string text = names[static_cast<int>(r.status)];
    text += ", renamed " + std::to_string(r.renamed);
    if (r.status == PassResult::Status::Failed)
        text += ", " + utf8(r.oldName) + " -> " + utf8(r.newName) + " error " +
                std::to_string(r.cause.osError);
    return text;
}

// ---------------------------------------------------------------------------------------------

void checkListing(const fs::path &root)
{
    const fs::path folder = freshFolder(root, L"listing");
    for (const char *name : {"b.MP3", "a.mp3", "Track 10.flac", "Track 9.flac", "hidden.mp3",
                             "system.mp3", "both.flac", "readonly.mp3", "notes.txt", ".dot.mp3"})
        writeFile(folder / name, name);
    for (const char *name : {"folder.mp3", "Sub 2", "Sub 10", "hidden folder", "system folder"})
        fs::create_directory(folder / name);
    bool set = true;
    for (const auto &[name, attributes] : std::initializer_list<std::pair<const char *, DWORD>>{
             {"hidden.mp3", FILE_ATTRIBUTE_HIDDEN},
             {"system.mp3", FILE_ATTRIBUTE_SYSTEM},
             {"both.flac", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
             {"readonly.mp3", FILE_ATTRIBUTE_READONLY},
             {"hidden folder", FILE_ATTRIBUTE_HIDDEN},
             {"system folder", FILE_ATTRIBUTE_SYSTEM}})
        set = setAttributes(folder / name, attributes) && set;
    check(set, "SetFileAttributesW sets the hidden, system and read-only attributes");

    MusicFileList list;
    const ListError err = list.setFolder(folder);
    const std::vector<std::string> want = {"a.mp3", "b.MP3", "readonly.mp3", "Track 9.flac",
                                           "Track 10.flac"};
    check(err.ok() && listed(list) == want,
          "listing leaves out hidden and system files, folders and other extensions",
          "error " + std::to_string(err.osError) + ", got " + join(listed(list)));

    std::vector<fs::path> subfolders;
    const ListError subErr = listSubfolders(folder, subfolders);
    std::vector<std::string> subNames;
    for (const fs::path &p : subfolders)
        subNames.push_back(utf8(p));
    check(subErr.ok() && subNames == std::vector<std::string>{"folder.mp3", "Sub 2", "Sub 10"},
          "subfolders leave out hidden and system folders, in natural order", join(subNames));

    setAttributes(folder / "readonly.mp3", FILE_ATTRIBUTE_NORMAL); // so it can be cleaned up

    const fs::path empty = freshFolder(root, L"empty");
    MusicFileList none;
    check(none.setFolder(empty).ok() && none.count() == 0, "an empty folder lists nothing");
}

void checkChineseNames(const fs::path &root)
{
    const fs::path folder = freshFolder(root, L"中文");
    const std::vector<std::string> names = {"歌曲.mp3", "周杰伦 - 晴天.flac", "a😀.mp3"};
    for (const std::string &n : names)
        writeFile(folder / fromUtf8(n), n);
    MusicFileList list;
    const ListError err = list.setFolder(folder);
    std::vector<std::string> got = listed(list);
    std::vector<std::string> want = names;
    std::sort(got.begin(), got.end());
    std::sort(want.begin(), want.end());
    check(err.ok() && got == want, "Chinese names (and one beyond the BMP) are listed in UTF-8",
          join(got));
    bool found = list.count() == static_cast<int>(names.size());
    for (int i = 0; i < list.count(); ++i)
        found = found && fs::exists(folder / list.name(i));
    check(found, "a listed name leads back to its file");
}

void checkRename(const fs::path &root)
{
    const fs::path folder = freshFolder(root, L"rename");
    const fs::path from = folder / L"歌.mp3";
    const fs::path taken = folder / L"taken.mp3";
    writeFile(from, "song");
    writeFile(taken, "other");

    const RenameOutcome onto = renameNoReplace(from, taken);
    check(onto.error == Cause::TargetExists &&
              (onto.osError == ERROR_ALREADY_EXISTS || onto.osError == ERROR_FILE_EXISTS),
          "a rename onto an existing file fails with TargetExists",
          "error " + std::to_string(onto.osError));
    check(contentOf(from) == "song" && contentOf(taken) == "other",
          "after it both files are there, unchanged");

    const RenameOutcome otherCase = renameNoReplace(from, folder / L"TAKEN.MP3");
    check(otherCase.error == Cause::TargetExists && contentOf(taken) == "other",
          "a name that differs only in letter case is taken too",
          "error " + std::to_string(otherCase.osError));

    const fs::path free = folder / L"1234歌.mp3";
    const RenameOutcome moved = renameNoReplace(from, free);
    check(moved.ok() && !fs::exists(from) && contentOf(free) == "song",
          "a rename to a free name moves the file", "error " + std::to_string(moved.osError));

    Renamer renamer;
    const RenameOutcome text = renamer.renameText(free.native(), from.native());
    check(text.ok() && renamer.road() == RenameRoad::NoReplaceFlag && contentOf(from) == "song",
          "the renamer takes native text and renames without the fallback");
}

void checkPasses(const fs::path &root)
{
    const fs::path folder = freshFolder(root, L"passes");
    const std::vector<std::string> names = {"01 Intro.mp3",   "歌曲.mp3",   "Song.MP3",
                                            "2019 Live.flac", "a b c.flac", "1234.mp3"};
    for (const std::string &n : names)
        writeFile(folder / fromUtf8(n), "content of " + n);
    writeFile(folder / "hidden.mp3", "hidden");
    setAttributes(folder / "hidden.mp3", FILE_ATTRIBUTE_HIDDEN);
    writeFile(folder / "cover.jpg", "jpg");
    const auto before = contentsIn(folder);
    std::map<std::string, std::string> music = before;
    music.erase("hidden.mp3");
    music.erase("cover.jpg");

    const Pass shuffled = runPass(folder, PassKind::Shuffle);
    auto shuffledMusic = shuffled.after;
    const bool others = shuffledMusic.erase("hidden.mp3") == 1 && shuffledMusic.erase("cover.jpg");
    std::string why;
    check(shuffled.result.status == PassResult::Status::Completed &&
              shuffled.result.renamed == static_cast<int>(names.size()),
          "the shuffle pass completes", statusText(shuffled.result));
    check(shuffledFrom(music, shuffledMusic, why) && others,
          "every music file has a prefix, contents kept; hidden and other files untouched", why);
    check(shuffled.result.device == deviceOf(folder).value_or(0) && shuffled.result.device != 0,
          "the pass knows its volume");

    // Each name lost the four digits the shuffle put in front, and no more: "2019 Live.flac" and
    // "1234.mp3" keep their own.
    const Pass stripped = runPass(folder, PassKind::Removal);
    check(stripped.result.status == PassResult::Status::Completed &&
              stripped.result.renamed == static_cast<int>(names.size()) && stripped.after == before,
          "the removal pass gives back every name", statusText(stripped.result));
}

// A pass at the root of a drive: the folder is "X:\" and every path a pass forms joins onto a
// trailing backslash. The drive is a temporary folder given a free letter of its own, as subst
// does, through DefineDosDeviceW(). Wine keeps its drives as links in the prefix's "dosdevices"
// folder instead and does not follow a letter defined that way: there the caller makes the link
// and names the drive (an empty folder) in KORVALO_CHECK_DRIVE, e.g. "R:".
void checkDriveRoot(const fs::path &root)
{
    std::wstring device;
    bool defined = false;
    fs::path backing;
    if (const wchar_t *given = ::_wgetenv(L"KORVALO_CHECK_DRIVE"); given && given[0]) {
        device = given;
    } else {
        backing = freshFolder(root, L"drive");
        const DWORD used = ::GetLogicalDrives();
        for (wchar_t l = L'Z'; l >= L'K' && device.empty(); --l)
            if (!(used & (1u << (l - L'A'))))
                device = std::wstring(1, l) + L":";
        defined = !device.empty() && ::DefineDosDeviceW(0, device.c_str(), backing.c_str());
        check(defined, "a free drive letter is given to a temporary folder",
              "error " + std::to_string(::GetLastError()));
        if (!defined)
            return;
    }
    const fs::path drive = device + L"\\";
    const DWORD attrs = ::GetFileAttributesW(drive.c_str());
    check(attrs != INVALID_FILE_ATTRIBUTES && (attrs & FILE_ATTRIBUTE_DIRECTORY),
          "the drive " + utf8(drive) + " is there");

    MusicFileList emptyRoot;
    const ListError emptyErr = emptyRoot.setFolder(drive);
    check(emptyErr.ok() && emptyRoot.count() == 0,
          "an empty drive root lists nothing, without an error",
          "error " + std::to_string(emptyErr.osError) + ", " + join(listed(emptyRoot)));

    for (const std::string &n : {std::string("根.mp3"), std::string("Root.flac")})
        writeFile(drive / fromUtf8(n), n);
    const auto before = contentsIn(drive);
    MusicFileList list;
    check(list.setFolder(drive).ok() && list.count() == 2, "the drive root is listed",
          join(listed(list)));

    const Pass shuffled = runPass(drive, PassKind::Shuffle);
    std::string why;
    check(shuffled.result.status == PassResult::Status::Completed &&
              shuffledFrom(before, shuffled.after, why),
          "the shuffle pass at a drive root renames in place",
          statusText(shuffled.result) + " " + why);
    const Pass stripped = runPass(drive, PassKind::Removal);
    check(stripped.result.status == PassResult::Status::Completed && stripped.after == before,
          "the removal pass at a drive root gives the names back", statusText(stripped.result));

    const auto mount = mountOf(drive);
    check(mount && mount->mountPoint == drive && mount->pathInVolume == fs::path(L"/"),
          "the drive root is the root of its volume",
          mount ? utf8(mount->mountPoint) + " " + utf8(mount->pathInVolume) : "no answer");

    for (const std::string &name : filesIn(drive))
        fs::remove(drive / fromUtf8(name));
    if (defined)
        ::DefineDosDeviceW(DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, device.c_str(),
                           backing.c_str());
}

void checkMount(const fs::path &root)
{
    const fs::path folder = freshFolder(root, L"mount 卷");
    const auto mount = mountOf(folder);
    check(mount.has_value(), "the mount lookup answers for the temporary folder");
    if (!mount)
        return;
    std::printf("     %s on %s (%s), volume %s, root %s, inside %s\n", utf8(folder).c_str(),
                mount->fsType.c_str(), mount->mountFsType.c_str(), mount->uuid.c_str(),
                utf8(mount->mountPoint).c_str(), utf8(mount->pathInVolume).c_str());
    const std::string type = mount->fsType;
    check(type == "ntfs" || type == "vfat" || type == "exfat",
          "the file system is NTFS, FAT or exFAT", type);
    const std::string uuid = mount->uuid;
    const bool serial =
        uuid.size() == 9 && uuid[4] == '-' &&
        std::all_of(uuid.begin(), uuid.end(), [](char c) { return c == '-' || std::isxdigit(c); });
    check(serial, "the volume serial number is its UUID", uuid);
    check(mount->device == deviceOf(folder).value_or(0), "the device is the volume serial");
    const std::wstring full = fs::absolute(folder).lexically_normal().native();
    const std::wstring point = mount->mountPoint.native();
    const std::wstring inside = mount->pathInVolume.native();
    check(!point.empty() && ::_wcsnicmp(full.c_str(), point.c_str(), point.size()) == 0 &&
              inside.size() > 1 && inside[0] == L'/' &&
              fromUtf8(utf8(mount->pathInVolume)).filename() == folder.filename() &&
              inside.find(L'\\') == std::wstring::npos,
          "the mount point holds the folder, the path inside ends in the folder");
    check(!mountOf(root / L"not there"), "no answer for a folder that is not there");

    // Opened in other letters, the folder has the path its volume stores.
    fs::create_directories(folder / L"Music" / L"Album");
    const auto other = mountOf(folder / L"MUSIC" / L"album");
    const auto endsIn = [](const fs::path &path, const std::wstring &tail) {
        const std::wstring text = path.native();
        return text.size() >= tail.size() && text.ends_with(tail);
    };
    check(other && endsIn(other->pathInVolume, L"/mount 卷/Music/Album") &&
              endsIn(other->typedPathInVolume, L"/mount 卷/MUSIC/album"),
          "the path inside is spelled as stored, the typed one as typed",
          other ? utf8(other->pathInVolume) + " " + utf8(other->typedPathInVolume) : "no answer");
}

void checkPassLock(const fs::path &root)
{
    const fs::path state = stateFolder();
    check(state == root / L"state" / L"Korvalo", "the state folder is %LOCALAPPDATA%\\Korvalo",
          utf8(state));
    auto first = PassLock::tryAcquire(PassLock::lockFolder(), 0x1234ABCDu).lock;
    check(first.has_value() && PassLock::lockFolder() == state,
          "a pass lock is taken, in the state folder", utf8(PassLock::lockFolder()));
    check(PassLock::tryAcquire(PassLock::lockFolder(), 0x1234ABCDu).busy(),
          "a second lock of the same volume is refused while the first is held");
    check(PassLock::tryAcquire(PassLock::lockFolder(), 0x1234ABCEu).held(),
          "another volume's lock is free");

    const fs::path folder = freshFolder(root, L"locked");
    writeFile(folder / "a.mp3", "a");
    auto held = PassLock::tryAcquire(PassLock::lockFolder(), deviceOf(folder).value_or(0)).lock;
    const Pass refused = runPass(folder, PassKind::Shuffle);
    check(held && refused.result.status == PassResult::Status::Refused &&
              refused.result.refusal == PassResult::Refusal::VolumeBusy &&
              filesIn(folder) == std::vector<std::string>{"a.mp3"},
          "a pass on a volume whose lock is held is refused and renames nothing",
          statusText(refused.result));
    first.reset();
    held.reset();
    check(PassLock::tryAcquire(PassLock::lockFolder(), 0x1234ABCDu).held(),
          "a released lock can be taken again");
    check(runPass(folder, PassKind::Shuffle).result.status == PassResult::Status::Completed,
          "with the lock released the pass runs");

    auto record = PassLock::acquireRecord(PassLock::lockFolder(), "0123456789ABCDEF").lock;
    check(record && PassLock::acquireRecord(PassLock::lockFolder(), "0123456789ABCDEF",
                                            std::chrono::milliseconds(50))
                        .busy(),
          "a record's lock is held; a second writer is told it is busy after its wait");
    const LockAttempt escape = PassLock::acquireRecord(PassLock::lockFolder(), "..\\escape");
    check(escape.unavailable && escape.unavailable->osError == ERROR_INVALID_NAME,
          "a record name that leaves the lock folder is refused");

    // Where no lock file can be made (a folder in its place), the pass refuses: it never runs
    // unlocked.
    const fs::path lockFile =
        state / ("volume-" + std::to_string(deviceOf(folder).value_or(0)) + ".lock");
    fs::remove(lockFile); // the lock file of the passes above
    fs::create_directory(lockFile);
    const Pass unlocked = runPass(folder, PassKind::Shuffle);
    fs::remove(lockFile);
    check(unlocked.result.status == PassResult::Status::Refused &&
              unlocked.result.refusal == PassResult::Refusal::LockUnavailable,
          "a pass without a lock file is refused", statusText(unlocked.result));
}

// The reader of the state folder's files: bounded, never through a link or into a folder.
void checkPrivateFiles(const fs::path &root)
{
    namespace jf = journalfile;
    const fs::path folder = freshFolder(root, L"private");
    const fs::path record = folder / L"0123.journal";
    const int replaced = jf::replaceFile(record, "new\n", jf::Lasting::Now);
    std::string text;
    const int read = jf::readFile(record, text, 64);
    check(replaced == 0 && read == 0 && text == "new\n" && filesIn(folder).size() == 1,
          "a record is replaced and read back, no temporary file is left",
          std::to_string(replaced) + " " + std::to_string(read));
    check(jf::misfitOf(jf::readFile(record, text, 3)) == jf::Misfit::TooLarge,
          "a record larger than allowed is refused");
    fs::create_directory(folder / L"folder.journal");
    check(jf::misfitOf(jf::readFile(folder / L"folder.journal", text, 64)) == jf::Misfit::Folder,
          "a folder in place of a record is told as one");
    jf::AppendFile file;
    check(file.open(folder / L"missing.journal") != 0 && !fs::exists(folder / L"missing.journal"),
          "appending never creates a record");
}

void checkJournal(const fs::path &root)
{
    const fs::path folder = freshFolder(root, L"journal");
    const std::vector<std::string> names = {"甲.mp3", "乙.flac", "丙.mp3"};
    for (const std::string &n : names)
        writeFile(folder / fromUtf8(n), n);
    const auto mount = mountOf(folder);
    const JournalKey key{mount ? mount->uuid : "?", mount ? utf8(mount->pathInVolume) : "?"};

    Journal journal; // in stateFolder(): the temporary one
    std::vector<PlannedRename> plan;
    std::vector<FileName> listedNames;
    for (const std::string &n : names) {
        const FileName from = fromUtf8(n).native();
        listedNames.push_back(from);
        plan.push_back({from, L"4321" + from});
    }
    RecordedMoves moves;
    moves.kind = PassKind::Shuffle;
    moves.moves = plan;
    moves.listed = listedNames;
    moves.batchSize = 2;
    const RecordedRun run = runRecordedMoves(journal, key, moves, [&](const PlannedRename &m) {
        return renameNoReplace(folder / m.from, folder / m.to).ok() ? MoveOutcome::Renamed
                                                                    : MoveOutcome::Refused;
    });
    check(run.journal.ok() && run.end == PassEnd::Completed && run.renamed == 3,
          "a recorded pass runs with the journal",
          "journal error " + std::to_string(static_cast<int>(run.journal.kind)) + " os " +
              std::to_string(run.journal.osError));

    FolderRecord record;
    const JournalError loaded = Journal().load(key, record);
    bool prefixed = record.known && !record.pending && record.prefixed.size() == 3;
    for (const PlannedRename &m : plan)
        prefixed = prefixed && record.prefixed.count(m.to) && record.prefixed.at(m.to) == 1;
    check(loaded.ok() && prefixed, "loaded back, the journal knows the names it prefixed",
          "known " + std::to_string(record.known) + ", " + std::to_string(record.prefixed.size()) +
              " names");

    // A pass that stops after its first file stays pending, with its planned names.
    Journal second;
    PassStart start;
    start.kind = PassKind::Removal;
    start.fileCount = 3;
    std::vector<PlannedRename> back;
    for (const PlannedRename &m : plan)
        back.push_back({m.to, m.from});
    start.planned = back;
    const JournalError begun = second.beginPass(key, start);
    const bool moved = renameNoReplace(folder / back[0].from, folder / back[0].to).ok();
    const JournalError ended = second.endPass(PassEnd::Stopped, 1);
    FolderRecord pending;
    const JournalError reloaded = Journal().load(key, pending);
    check(begun.ok() && moved && ended.ok() && reloaded.ok() && pending.pending &&
              pending.pending->kind == PassKind::Removal && pending.pending->files == back &&
              pending.pending->end == PassEnd::Stopped && pending.pending->attempted == 1,
          "a stopped pass is loaded back as pending, with its planned renames");

    const bool outside = filesIn(folder).size() == 3 && !fs::is_empty(stateFolder());
    check(outside, "the journal is kept in the state folder, nothing is added to the music folder");
}

// The cause of every error code the Windows calls give, read as the one table says.
void checkErrorCauses(const fs::path &root)
{
    // The codes whose cause is the same for a listing and a rename, by cause; then the others.
    const std::pair<Cause, std::vector<DWORD>> causes[] = {
        {Cause::None, {ERROR_SUCCESS}},
        {Cause::TargetExists, {ERROR_ALREADY_EXISTS, ERROR_FILE_EXISTS}},
        {Cause::PermissionDenied, {ERROR_ACCESS_DENIED, ERROR_PRIVILEGE_NOT_HELD}},
        {Cause::ReadOnly, {ERROR_WRITE_PROTECT}},
        {Cause::NameTooLong, {ERROR_FILENAME_EXCED_RANGE, ERROR_BUFFER_OVERFLOW}},
        {Cause::InvalidName,
         {ERROR_INVALID_NAME, ERROR_BAD_PATHNAME, ERROR_NO_UNICODE_TRANSLATION}},
        {Cause::NoSpace, {ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_CANNOT_MAKE}},
        {Cause::Busy, {ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION}},
        {Cause::IoError,
         {ERROR_CRC, ERROR_SECTOR_NOT_FOUND, ERROR_READ_FAULT, ERROR_WRITE_FAULT, ERROR_GEN_FAILURE,
          ERROR_IO_DEVICE, ERROR_FILE_CORRUPT, ERROR_DISK_CORRUPT}},
        {Cause::DeviceGone,
         {ERROR_NOT_READY, ERROR_DEV_NOT_EXIST, ERROR_INVALID_DRIVE, ERROR_DEVICE_REMOVED,
          ERROR_NO_MEDIA_IN_DRIVE, ERROR_MEDIA_CHANGED, ERROR_UNRECOGNIZED_VOLUME,
          ERROR_BAD_NETPATH, ERROR_NETNAME_DELETED}},
        {Cause::Other, {ERROR_INVALID_FUNCTION}},
    };
    struct Row
    {
        DWORD code;
        Cause listing;
        Cause renaming;
    };
    std::vector<Row> rows = {{ERROR_FILE_NOT_FOUND, Cause::NotFound, Cause::SourceMissing},
                             {ERROR_PATH_NOT_FOUND, Cause::NotFound, Cause::FolderGone},
                             {ERROR_DIRECTORY, Cause::NotAFolder, Cause::FolderGone}};
    for (const auto &[cause, codes] : causes)
        for (const DWORD code : codes)
            rows.push_back({code, cause, cause});
    std::string wrong;
    for (const Row &row : rows) {
        const int code = static_cast<int>(row.code);
        if (causeOfSystemError(code, OsAction::Listing) != row.listing ||
            causeOfSystemError(code, OsAction::Renaming) != row.renaming ||
            renameOutcomeFromSystemError(code).error != row.renaming ||
            renameOutcomeFromSystemError(code).osError != code ||
            ListError::fromSystemError(code).kind != row.listing) {
            wrong += ' ';
            wrong += std::to_string(code);
        }
    }
    check(wrong.empty(), "every Windows error code has its cause", "wrong for" + wrong);

    // What the real calls answer.
    const fs::path folder = freshFolder(root, L"errors");
    writeFile(folder / "a.mp3", "a");
    MusicFileList list;
    const ListError missing = list.setFolder(folder / "not there");
    check(missing.kind == Cause::NotFound, "listing a missing folder: NotFound",
          std::to_string(missing.osError));
    const ListError file = list.setFolder(folder / "a.mp3");
    check(file.kind == Cause::NotAFolder, "listing a file: NotAFolder",
          std::to_string(file.osError));

    const RenameOutcome gone = renameNoReplace(folder / "gone.mp3", folder / "new.mp3");
    check(gone.error == Cause::SourceMissing, "renaming a missing file: SourceMissing",
          std::to_string(gone.osError));
    const RenameOutcome noFolder =
        renameNoReplace(folder / "no folder" / "a.mp3", folder / "no folder" / "b.mp3");
    check(noFolder.error == Cause::FolderGone, "renaming in a missing folder: FolderGone",
          std::to_string(noFolder.osError));
    const RenameOutcome bad = renameNoReplace(folder / "a.mp3", folder / "a?b.mp3");
    check(bad.error == Cause::InvalidName && contentOf(folder / "a.mp3") == "a",
          "a name with a character Windows refuses: InvalidName", std::to_string(bad.osError));

    // A file another program holds open without letting it be renamed.
    const HANDLE open = ::CreateFileW((folder / "a.mp3").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const RenameOutcome busy = renameNoReplace(folder / "a.mp3", folder / "b.mp3");
    ::CloseHandle(open);
    check(open != INVALID_HANDLE_VALUE && busy.error == Cause::Busy,
          "renaming a file held open by another program: Busy", std::to_string(busy.osError));
}

} // namespace

int wmain()
{
    wchar_t temp[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, temp);
    const fs::path root = fs::path(std::wstring(temp, length)) /
                          (L"korvalo-check-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                           std::to_wstring(::GetTickCount64()));
    fs::create_directories(root / L"state");
    // The state folder (journal, pass locks) inside the temporary folder.
    ::SetEnvironmentVariableW(L"LOCALAPPDATA", (root / L"state").c_str());
    ::_wputenv_s(L"LOCALAPPDATA", (root / L"state").c_str());

    // One section's exception (a filesystem_error of a helper) fails that section only.
    const std::pair<const char *, void (*)(const fs::path &)> sections[] = {
        {"listing", checkListing},      {"Chinese names", checkChineseNames},
        {"rename", checkRename},        {"passes", checkPasses},
        {"drive root", checkDriveRoot}, {"mount lookup", checkMount},
        {"pass lock", checkPassLock},   {"private files", checkPrivateFiles},
        {"journal", checkJournal},      {"error causes", checkErrorCauses},
    };
    for (const auto &[name, run] : sections) {
        try {
            run(root);
        } catch (const std::exception &e) {
            check(false, std::string(name) + " ends without an exception", e.what());
        }
    }

    std::error_code ec;
    fs::remove_all(root, ec);
    std::printf("%d passed, %d failed\n", g_passed, g_failed);
    return g_failed == 0 ? 0 : 1;
}
