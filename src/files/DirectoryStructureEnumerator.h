// Walks a directory tree below a root, depth first, each directory handed out just before
// its contents; option bits and ignored names decide what is handed out. It holds only the
// path stack and the listing of the directory it is in, and lists a parent again (finding
// its place by name) when it comes back up. Symbolic links are handed out but never
// entered, so the walk stays inside the tree. One thread at a time.
#pragma once

#include "object/BaseObject.h"

class BaseArray;
class BaseDictionary;
class BaseFile;
class BaseString;

class DirectoryStructureEnumerator : public BaseObject
{
public:
  enum eOptions
  {
    eSkipPosixDotNames = 2,        // "." and ".." are ignored names
    eSkipHidden = 4,               // dot-names are neither listed nor entered
    eSkipDirectories = 8,          // directories are entered but not handed out
    eSkipFiles = 16,               // regular files are not handed out
    eOnlyFilesAndDirectories = 32  // devices, sockets, pipes and dangling links are not
  };

  // A new enumerator owned by the caller's innermost pool.
  static DirectoryStructureEnumerator* directoryEnumeratorAtPath(BaseString* rootPath, int options);
  // A root that is not a directory logs an Error; such an enumerator hands out nothing.
  DirectoryStructureEnumerator(BaseString* rootPath, int options);
  ~DirectoryStructureEnumerator() override;

  // Entries of that exact generic name are not handed out; a directory of that name is
  // still entered.
  void addIgnoringName(BaseString* name);

  // The next accepted entry, owned by the caller's innermost pool; null once the walk is over.
  BaseFile* getNextDirectoryItem();
  BaseString* getNextDirectoryItemPath();
  BaseDictionary* getNextDirectoryItemAttributes();

  const char* getClass() const override;

protected:
  // Takes one entry (in the caller's pool) and says whether it is to be handed out.
  BaseFile* _getNextDirectoryItem(bool& accepted);
  // Moves to the next name, climbing out of finished directories.
  void _incrementItem();
  // Lists the directory on top of the stack into the current entries.
  void _listTopDirectory();

  // Paths as the file system spells them, so that names in any normalization can be
  // entered and found again: the root, then each directory entered below it.
  BaseTypedArray<BaseString>* m_directoryStack;
  BaseTypedArray<BaseString>* m_currentEntries;  // file-system names of the top directory
  unsigned int m_currentIndex;
  BaseDictionary* m_ignoredNames;  // name -> BaseNull::instance
  int m_options;
};
