/// \file
/// Hierarchical key/value text database: entries, path lookup and the text format.
#ifndef VOFOUNDATION_VODATA_VODATABASE_H
#define VOFOUNDATION_VODATA_VODATABASE_H

#include "VoCore/VoMemory.h"
#include "VoCore/VoString.h"
#include "VoCore/VoTemplates.h"
#include "VoData/VoList.h"

class VoDataBase;
class VoFileSpec;

/// One entry of a VoDataBase level: a key, a value and optionally a nested
/// database (the level below this entry).
///
/// The entry holds exactly one reference on its nested database. Copying an
/// entry shares the nested database (NewRef); overwriting or destroying an
/// entry releases its reference (Delete). Wherever a database pointer comes
/// with a bool `owned`: true hands the caller's reference over to the entry
/// (the caller must not Delete it afterwards), false makes the entry take a
/// reference of its own (the caller keeps its reference).
class VoDBData {
 public:
  /// Empty key, empty value, no nested database.
  VoDBData();
  /// The given key and value, no nested database.
  VoDBData(const VoString& key, const VoString& value);
  /// The given key, value and nested database (may be null); see `owned` above.
  VoDBData(const VoString& key, const VoString& value, VoDataBase* db, bool owned);
  /// Copies key and value and shares the nested database.
  VoDBData(const VoDBData& other);
  /// Assigns key and value; the nested database as VoSmartPtr assignment does
  /// (NewRef on the new one, then Delete on the old one; nothing when they are the same).
  VoDBData& operator=(const VoDBData& other);
  /// Releases the nested database.
  virtual ~VoDBData();

  /// The entry's line text without indentation, brackets or line end:
  /// key text, " = ", value text.
  ///
  /// The key is written quoted when \p quoteAll is true, when it holds a
  /// blank, TAB, CR, LF or double quote, when it is empty, or when its first
  /// character is '#', '{', '}' or '<' (written bare, such a key would read
  /// back as a comment, a brace or a bracketed entry). The value is quoted
  /// when \p quoteAll is true or when it holds one of the five quote
  /// characters; an empty value is written as nothing, or as "" with \p quoteAll.
  /// Keys and values are taken as text up to their first zero byte.
  virtual VoString GetString(bool quoteAll) const;
  /// Reads one entry's key, "=" and value from \p text at \p pos and leaves
  /// \p pos behind the value (behind the line end that ends a bare value).
  /// Throws "VoFormatErr" (19) when the token after the key is not exactly
  /// "=" or a quoted key or value has no closing quote; the entry keeps its
  /// former key and value then. A negative \p pos throws "VoIndexError" (7).
  /// When the text ends directly behind the "=", the value is empty.
  virtual void SetString(const VoString& text, long& pos);

  /// A copy of the key.
  VoString GetKey() const { return mKey; }
  /// A copy of the value.
  VoString GetVal() const { return mValue; }
  /// Replaces the key; the value and nested database stay.
  void SetKey(const VoString& key) { mKey = key; }
  /// Replaces the value; the key and nested database stay.
  void SetVal(const VoString& value) { mValue = value; }
  /// The nested database (borrowed), or null.
  VoDataBase* GetDB() const { return mDB.Get(); }
  /// Makes \p db (may be null) the nested database: NewRef on it, Delete on
  /// the previous one; then, when \p db is not null and \p owned is true,
  /// Delete on \p db once, so that the caller's reference has passed to the entry.
  void SetDB(VoDataBase* db, bool owned);

 private:
  friend class VoDataBase;

  VoString mKey;
  VoString mValue;
  VoSmartPtr<VoDataBase> mDB;
};

/// A hierarchical key/value store: an ordered list of VoDBData entries, each
/// of which may carry a nested database of its own.
///
/// Entries keep insertion order; keys need not be unique; lookups scan a
/// level linearly and find the first matching entry. A path names an entry
/// by the keys of the levels from this database down, separated by "/": a
/// leading or trailing "/" changes nothing, "a//b" passes through the entry
/// with the empty key, and a key that holds "/" is reachable only by index.
/// Keys are compared exactly, byte by byte, up to their first zero byte.
///
/// A database is reference counted (VoObject): it starts with count 1, and
/// the databases that the path operations and the reader create for entries
/// are heap objects held only by their entries. Pointers returned by
/// GetEntry, GetDB and GetIndexedDB are borrowed.
///
/// No operation recurses over the levels: reading, writing, copying, merging
/// and destroying use explicit work lists instead, so no nesting depth can
/// exhaust the stack.
class VoDataBase : public VoObject {
 public:
  /// Deepest nesting the text reader and writer accept below the database
  /// they work on; deeper nesting throws "VoFormatErr" (19). It bounds the
  /// text format only: copying, merging and destroying take any depth.
  static constexpr int mMaxNesting = 1000;

  /// The writer's layout switch: false (the default) writes the plain
  /// layout, true the bracketed one. Process-wide, read at each write.
  static bool mSaveControlChars;

  /// Empty database, reference count 1.
  VoDataBase();
  /// Empty database, reference count 1, then MergeDB(&other, true): a deep
  /// copy that shares no nested database with \p other, of any depth.
  VoDataBase(const VoDataBase& other);
  /// Nothing for self-assignment; otherwise the entries become a copy of
  /// \p other's (as Clear() then MergeDB(&other, true)); the reference count
  /// is not touched. The copy is built first and only then replaces the
  /// entries, so \p other may be one of this database's own nested databases,
  /// and a failed copy leaves this database as it was.
  VoDataBase& operator=(const VoDataBase& other);
  /// Destroys the entries, releasing every nested database (without
  /// recursion). Allocates nothing and never throws.
  ~VoDataBase() override;

  // ---------------------------------------------------------------- paths
  /// The level that holds the entry addressed by \p path, with \p index set
  /// to the entry's position there. With \p create, missing levels and the
  /// entry are appended (new levels are held only by their entries).
  /// Without: null and \p index -1 when the entry does not exist.
  VoDataBase* GetEntry(const VoString& path, bool create, int& index);
  /// Whether the entry addressed by \p path exists.
  bool Exists(const VoString& path) const;
  /// The nested database of the entry (borrowed). With \p create the entry
  /// and a nested database are made when missing; without, null then.
  VoDataBase* GetDB(const VoString& path, bool create);
  /// Creates the entry if needed and makes \p db (may be null) its nested
  /// database; `owned` as for VoDBData::SetDB. An owned \p db is released
  /// when the call fails (the caller's reference has passed either way).
  void SetDB(const VoString& path, VoDataBase* db, bool owned);

  // ---------------------------------------------------------------- typed values
  /// Creates the entry if needed and sets its value; its nested database stays.
  void SetString(const VoString& path, const VoString& value);
  /// Stores "%d" of \p value.
  void SetInt(const VoString& path, int value);
  /// Stores "true" or "false".
  void SetBoolean(const VoString& path, bool value);
  /// Stores \p value formatted with \p format (one double conversion), or,
  /// for a null format, with "%f" and trailing zeros stripped (1.5 -> "1.5",
  /// 2 -> "2"), as in the "C" locale ("." as the decimal point, no grouping)
  /// whatever the process's locale. Nothing is written when the entry exists and its value
  /// already reads (as GetDouble) as exactly \p value.
  void SetDouble(const VoString& path, double value, const char* format = nullptr);

  /// The value, or \p def when the entry is missing. With \p store a missing
  /// entry is first created with the default (by the matching setter); with
  /// \p store false a missing entry changes nothing. The same holds for the
  /// other getters.
  VoString GetString(const VoString& path, const VoString& def = VoString(), bool store = false);
  /// The value read as atol does (12abc -> 12, abc -> 0), or \p def.
  int GetInt(const VoString& path, int def = 0, bool store = false);
  /// The value read as atof does in the "C" locale ("." as the decimal point
  /// whatever the process's locale), or \p def; stored with a null format.
  double GetDouble(const VoString& path, double def = 0.0, bool store = false);
  /// True when the value is "true" in any letter case or exactly "1"; false
  /// for every other value; \p def when the entry is missing.
  bool GetBoolean(const VoString& path, bool def = false, bool store = false);

  // ---------------------------------------------------------------- this level
  /// Number of entries of this level (nested levels not counted).
  int GetCount() const { return mEntries.count; }
  /// Key of entry \p i; "VoIndexError" (7) unless 0 <= i < GetCount().
  VoString GetIndexedName(int i) const;
  /// Value of entry \p i; "VoIndexError" (7) unless 0 <= i < GetCount().
  VoString GetIndexedValue(int i) const;
  /// Nested database of entry \p i (borrowed) or null; "VoIndexError" (7)
  /// unless 0 <= i < GetCount().
  VoDataBase* GetIndexedDB(int i) const;
  /// Position of the first entry of this level whose key equals \p key
  /// (a plain key, not a path), or -1.
  int GetIndex(const VoString& key) const;
  /// Position of the first entry of this level whose value equals \p value, or -1.
  int GetIndexByValue(const VoString& value) const;
  /// Removes the first entry of this level whose key equals \p key; nothing
  /// when there is none. As with RemoveIndex, the entry's nested database is
  /// released at once.
  void Remove(const VoString& key);
  /// Removes entry \p i; the entries behind it move up. "VoIndexError" (7)
  /// unless 0 <= i < GetCount(); the database is unchanged then. The removed
  /// entry's nested database is released at once: the list slot that would
  /// keep a stale copy of a moved entry is cleared.
  void RemoveIndex(int i);
  /// Removes all entries of this level and frees the list's storage.
  void Clear();
  /// Copies the entries of \p other (null: nothing) into this database. Only
  /// the entries \p other has when the call starts are visited. With
  /// \p append each entry is appended; without, its key is taken as a path
  /// and set with SetString. A nested database is merged into GetDB(key, true)
  /// of this database, with the same \p append, down to any depth. With
  /// \p append a level's list grows once, by the room all of the source
  /// level's entries need, where it lacks that room.
  void MergeDB(const VoDataBase* other, bool append);

  // ---------------------------------------------------------------- text
  /// The whole text: DB2String(0) in the plain layout, or "{\n",
  /// DB2String(1) and "}\n" in the bracketed layout. Nesting deeper than
  /// mMaxNesting throws "VoFormatErr" (19).
  VoString WriteToString() const;
  /// Empties the database and reads the text (either layout, comments,
  /// any indentation, LF, CR, CR LF or LF CR line ends).
  ///
  /// Errors (all pass to the caller; the database then holds exactly the
  /// entries read before the error, with the nested levels that were
  /// complete; a level being read when the error came is discarded):
  /// "VoFormatErr" (19) when the token after a key is not "=", a bracketed
  /// entry lacks its ">", a quoted key or value is not closed, or the text
  /// nests deeper than mMaxNesting; "VoIndexError" (7) when a "{" comes
  /// before the first entry of a level.
  ///
  /// Inside a "#{" ... "#}" block comment an empty line counts as one line,
  /// so a "#}" at the start of the line behind it ends the block.
  ///
  /// Each level read gets an entry list of exactly its size (it grows as
  /// usual when entries are added later), and keys that repeat those of the
  /// sibling level read before share their string buffers.
  ///
  /// The keys and values read take their buffers from 64 KiB slabs shared
  /// with the others read in the same call, rather than one heap block each
  /// (VoStringBlockRun): they are ordinary strings otherwise, but one kept
  /// after the database is gone keeps its slab alive until it goes too.
  void ReadFromString(const VoString& text);
  /// Writes the text of WriteToString() to the file. Defined with the file
  /// layer (VoDataBaseFile.cpp), whose comments say how the file is written
  /// and safely replaced.
  void WriteToFile(const VoFileSpec& spec) const;
  /// Reads the whole file and calls ReadFromString. Defined with the file
  /// layer (VoDataBaseFile.cpp).
  void ReadFromFile(const VoFileSpec& spec);
  /// Sets mSaveControlChars and returns its previous value.
  static bool SaveControlChars(bool save);

  /// The lines of this level and everything below it, each indented by
  /// \p level TABs (a negative level counts as 0), in the layout that
  /// mSaveControlChars selects. Nesting deeper than mMaxNesting below this
  /// level throws "VoFormatErr" (19).
  VoString DB2String(int level) const;
  /// Appends the entries read from \p text at \p pos up to the end of the
  /// level (its "}", which is consumed, or the end of the text). Errors as
  /// for ReadFromString; entries appended before an error stay. The levels
  /// read are sized and their keys shared as ReadFromString says.
  void String2DB(const VoString& text, long& pos);
  /// The next character at or behind \p pos that is neither blank (NUL,
  /// TAB, LF, CR, SPACE) nor part of a comment, with \p pos just behind it;
  /// 0 at the end of the text. A negative \p pos throws "VoIndexError" (7).
  static char GetNextChar(const VoString& text, long& pos);
  /// Moves \p pos behind the end of the current line (LF, CR, CR LF or LF
  /// CR), or to the end of the text. A negative \p pos throws "VoIndexError" (7).
  static void SkipLine(const VoString& text, long& pos);

 private:
  friend class VoDBData;
  struct TextBuffer;  // the writer's output buffer (VoDataBaseText.cpp)

  // Position of the first entry whose key, up to its first zero byte, equals
  // the \p length bytes at \p text (which hold no zero byte); -1 when none.
  int FindKey(const char* text, long length) const;
  // Appends the \p n entries at \p entries (moving their content out) to
  // this level, whose list then has exactly the room it needs.
  void TakeEntries(VoDBData* entries, int n);
  // The reader behind String2DB: this level and every level below it.
  void ReadLevels(const char* text, long length, long& pos);
  // The writer behind DB2String: this level and every level below it.
  void WriteLevels(TextBuffer& out, int level) const;
  // One entry's line text as VoDBData::GetString gives it.
  static void WriteEntryText(TextBuffer& out, const VoDBData& entry, bool quoteAll);

  VoList<VoDBData> mEntries;
  // The next database on the destructor's release chain (null off the chain).
  VoDataBase* mNextReleased = nullptr;
};

#endif  // VOFOUNDATION_VODATA_VODATABASE_H
