// Everything one run shares: the paths and settings taken at start-up, the receipt and its total,
// the command table and the sender's position in it. One object per run, owned by the window;
// the names are the ones support people use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zelmo {

// One line of the receipt; names are UTF-8 in memory.
struct ReceiptItem {
  std::string sName;
  double dQuantity = 0;
  std::string sTaxCode;
  double dUnitPrice = 0;
};

inline constexpr int kInitialCommandSlots = 51;

struct JobState {
  std::string sIniFile;
  std::string sReceiptFile;
  int16_t iReceiptKind = 0;
  std::string sSeriska;
  std::string sPrikaziForma;
  std::string sDelimiter;
  std::string sClear;
  // The optional keys, checked at start-up; their defaults are the line as it always was.
  std::string sLineSettings = "9600,N,8,1";
  int iHandshaking = 2;        // RTS/CTS
  int iTimeout = 0;            // seconds; 0: the register is waited for as long as it takes
  std::string sLog;            // the run's log file, relative to the folder; empty: none
  std::string sVersion;        // the program's, for the log
  bool bJournal = false;       // Journal=1: a receipt cut off once is not sent again unasked
  std::string sReceiptDigest;  // Journal=1: the receipt's SHA-256, for its journal
  bool bOtherJournal = false;  // Journal=1: the journal there is another receipt's
  double dTotal = 0;
  int16_t iItemCount = 0;
  // Command table: entry i is step i of the job as it goes on the wire (code page 1251 bytes);
  // an empty entry ends the job. It grows past its first 51 entries to fit a long receipt.
  std::vector<std::string> sCommands = std::vector<std::string>(kInitialCommandSlots);
  int16_t iStepCount = 0;
  std::vector<ReceiptItem> aItems;  // empty until a receipt with items is loaded
  int16_t iSendPos = 0;
};

}  // namespace zelmo
