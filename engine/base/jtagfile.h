// The abstract file player, the nine cable events it calls, and the registry
// that creates a player by file extension.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/checked_file.h"
#include "stoptoken.h"

enum class MessageKind : uint8_t { Info = 0, Comment = 1, Error = 2, Warning = 3 };

// 0..2 come from the cable; the players' compare adds Mismatch.
enum class ReadResult : uint8_t { Ready = 0, CommError = 1, NotYet = 2, Mismatch = 3 };

enum class FileStatus : uint8_t { Running = 0, Failed = 1, Succeeded = 2 };

// The sixteen TAP controller states under their SVF names.
enum class TapState : uint8_t {
    RESET = 0, IDLE, DRSELECT, DRCAPTURE, DRSHIFT, DREXIT1, DRPAUSE, DREXIT2, DRUPDATE,
    IRSELECT, IRCAPTURE, IRSHIFT, IREXIT1, IRPAUSE, IREXIT2, IRUPDATE
};

// Bit sequences in the events are one byte per bit, first shifted bit first;
// zero is a 0 bit, any other value a 1 bit. Capture bytes run parallel: a
// nonzero byte asks the cable to read that bit's TDO back.
using TJtagMessageEvent = std::function<void(const std::string& Text, MessageKind Kind)>;
using TJtagShiftEvent = std::function<bool(const uint8_t* Tdi, const uint8_t* Capture, int32_t Count, bool LastTms)>;
using TJtagReadEvent = std::function<ReadResult(uint8_t* Tdo, const uint8_t* Capture, int32_t Count)>;
using TJtagFlushEvent = std::function<bool()>;
using TJtagTmsClockEvent = std::function<bool(bool Tdi, bool Tms)>;
using TJtagRuntestTimeEvent =
    std::function<bool(bool Sck, uint32_t Microseconds, bool HoldTms, const TJtagMessageEvent& Progress)>;
using TJtagRuntestClocksEvent =
    std::function<bool(bool Sck, uint32_t Count, bool HoldTms, const TJtagMessageEvent& Progress)>;
using TJtagTrstEvent = std::function<bool(bool Level, bool Driven)>;
// Returns the TCK frequency reached, or -1 on a USB failure.
using TJtagSetFrequencyEvent = std::function<int32_t(int32_t Hz, bool Apply)>;

class TJtagFile {
public:
    // The data file's full path; subclasses open it here.
    explicit TJtagFile(const std::string& FileName);
    virtual ~TJtagFile();
    TJtagFile(const TJtagFile&) = delete;
    TJtagFile& operator=(const TJtagFile&) = delete;

    TJtagMessageEvent OnMessage;
    TJtagShiftEvent OnShift;
    TJtagReadEvent OnRead;
    TJtagFlushEvent OnFlush;
    TJtagTmsClockEvent OnTmsClock;
    TJtagRuntestTimeEvent OnRuntestTime;
    TJtagRuntestClocksEvent OnRuntestClocks;
    TJtagTrstEvent OnTrst;
    TJtagSetFrequencyEvent OnSetFrequency;
    // Pass the data file's comment lines to OnMessage as comments.
    bool CopyComments = true;
    // The file as its check read it; every reader of the run compares it.
    TCheckedFile Checked;
    // Told by CheckFile of every run-test wait the run would ask of the
    // cable, in file order: one by time (Count then means nothing) or one
    // of Count TCK cycles. Settings that a cable cannot play a wait with
    // are found this way before the cable is used.
    std::function<void(bool ByTime, uint32_t Count)> OnCheckedRuntest;

    // Sets up and resumes the worker thread; false when the first
    // OnSetFrequency(FrequencyHz, true) failed.
    virtual bool Start(int32_t FrequencyHz) = 0;
    virtual FileStatus GetStatus() = 0;
    virtual int32_t GetPosition() = 0;
    virtual int32_t GetSize() = 0;
    // Reads the whole file once before any cable is used and raises what
    // the run would meet in it (ELineException for a line), playing
    // nothing; returns early, unfinished, once Stop is asked. A player
    // that checks its file when it is created has nothing left to do here.
    virtual void CheckFile(const platform::TStopToken& Stop) { (void)Stop; }
    // Asks the stop token of a running worker, which then ends soon with
    // status Failed; returns at once. Nothing happens before Start or after
    // the run has ended.
    virtual void Stop() = 0;

    // The stop the run looks at between statements and while it waits,
    // and that Stop asks: the front end's, given before Start; a player
    // played on its own has one of its own.
    void UseStop(platform::TStopToken& Token) { FStop = &Token; }
    platform::TStopToken& StopToken() const { return *FStop; }

private:
    platform::TStopToken FOwnStop;
    platform::TStopToken* FStop = &FOwnStop;
};

// A player class as the registry keeps it: its type name (a class
// operation) and its constructor.
struct TJtagFileClass {
    std::string (*FileTypeName)() = nullptr;
    std::unique_ptr<TJtagFile> (*Create)(const std::string& FileName) = nullptr;
};

template <class T>
TJtagFileClass JtagFileClassOf()
{
    return TJtagFileClass{
        &T::FileTypeName,
        [](const std::string& FileName) -> std::unique_ptr<TJtagFile> { return std::make_unique<T>(FileName); }};
}

struct TJtagFileRecord {
    std::string Extension;
    TJtagFileClass FileClass;
};

class TJtagFilesList {
public:
    void RegisterFileClass(const std::string& Extension, const TJtagFileClass& FileClass);
    // Extension with or without its leading '.', any case. Raises
    // Exception for a type no class is registered for.
    std::unique_ptr<TJtagFile> CreateFileObject(const std::string& Extension, const std::string& FileName) const;

    int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
    // Entries in registration order; raises Exception out of range.
    const TJtagFileRecord& Items(int32_t Index) const;

private:
    std::vector<std::unique_ptr<TJtagFileRecord>> FItems;
};

// The one registry; no object until the first registration.
extern TJtagFilesList* JtagFilesList;

// Start-up registration of one player class under its FileTypeName,
// creating the registry first when there is none.
void RegisterJtagFileClass(const TJtagFileClass& FileClass);
