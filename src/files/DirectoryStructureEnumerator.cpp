#include "files/DirectoryStructureEnumerator.h"

#include "files/BaseFile.h"
#include "object/BaseArray.h"
#include "object/BaseAutorelease.h"
#include "object/BaseDictionary.h"
#include "object/BaseNull.h"
#include "object/BaseString.h"
#include "platform/Files.h"
#include "runtime/Debug.h"

namespace {

// A link to a directory would take the walk out of the tree, or round a loop for ever.
bool isSymbolicLink(BaseString* path)
{
  platform::FileStatus status;
  return platform::fileStatus(path->cString(), status, false) && status.kind == platform::eFileSymbolicLink;
}

}  // namespace

DirectoryStructureEnumerator* DirectoryStructureEnumerator::directoryEnumeratorAtPath(BaseString* rootPath,
                                                                                      int options)
{
  return new (eRetainAutorelease) DirectoryStructureEnumerator(rootPath, options);
}

DirectoryStructureEnumerator::DirectoryStructureEnumerator(BaseString* rootPath, int options)
    : m_directoryStack(new (eRetainNone) BaseTypedArray<BaseString>()),
      m_currentEntries(nullptr),
      m_currentIndex(0),
      m_ignoredNames(new (eRetainNone) BaseDictionary()),
      m_options(options)
{
  if (m_options & eSkipPosixDotNames) {
    m_ignoredNames->setObjectForKey(&BaseNull::instance, ".");
    m_ignoredNames->setObjectForKey(&BaseNull::instance, "..");
  }
  BaseAutorelease pool;
  BaseFile* root = new (eRetainAutorelease) BaseFile(rootPath, false);
  if (root->isDirectory()) {
    m_directoryStack->addObject(rootPath);
    _listTopDirectory();
  } else {
    BASE_LOG(this, eMsgError, "rootpath is not a directory %S", rootPath);
  }
}

DirectoryStructureEnumerator::~DirectoryStructureEnumerator()
{
  BaseObject::release(m_directoryStack);
  BaseObject::release(m_currentEntries);
  BaseObject::release(m_ignoredNames);
}

const char* DirectoryStructureEnumerator::getClass() const
{
  return "DirectoryStructureEnumerator";
}

void DirectoryStructureEnumerator::addIgnoringName(BaseString* name)
{
  m_ignoredNames->setObjectForKey(&BaseNull::instance, name);
}

void DirectoryStructureEnumerator::_listTopDirectory()
{
  BaseAutorelease pool;
  BaseFile* directory = new (eRetainAutorelease) BaseFile(m_directoryStack->lastObject(), false);
  BaseTypedArray<BaseString>* entries = directory->directoryEntries((m_options & eSkipHidden) != 0, false);
  BaseObject::setMember(&m_currentEntries, entries);
  m_currentIndex = 0;
}

void DirectoryStructureEnumerator::_incrementItem()
{
  for (;;) {
    m_currentIndex++;
    if (m_currentEntries && m_currentIndex < m_currentEntries->count()) return;

    // The top directory is finished: climb to its parent and find our place there again.
    BaseString* finishedName = m_directoryStack->lastObject()->lastPathComponent();
    BaseObject::setMember(&m_currentEntries, nullptr);
    m_directoryStack->removeLastObject();
    if (m_directoryStack->count() == 0) {
      m_currentIndex = 0;
      return;
    }
    _listTopDirectory();
    unsigned int position = m_currentEntries->indexOfObject(finishedName);
    // A directory that went away meanwhile ends its parent's listing: starting the parent
    // again could hand everything out twice, or never end while the tree keeps changing.
    m_currentIndex = position == BaseArray::NOT_FOUND ? m_currentEntries->count() : position;
  }
}

BaseFile* DirectoryStructureEnumerator::_getNextDirectoryItem(bool& accepted)
{
  accepted = false;
  if (m_directoryStack->count() == 0 || !m_currentEntries) return nullptr;
  while (m_currentIndex >= m_currentEntries->count()) {
    _incrementItem();
    if (m_directoryStack->count() == 0) return nullptr;
  }

  BaseString* path = new (eRetainAutorelease) BaseString(250u);
  path->append(m_directoryStack->lastObject());
  path->appendPathComponent(m_currentEntries->objectAtIndex(m_currentIndex));
  BaseFile* item = new (eRetainAutorelease) BaseFile(path, false);

  if (item->isDirectory() && !item->isPosixDotDirectory() && !isSymbolicLink(path)) {
    m_directoryStack->addObject(path);
    _listTopDirectory();
  } else {
    _incrementItem();
  }

  BaseString* name = item->getFilename();
  if (m_ignoredNames->objectForKey(name)) return item;
  if ((m_options & eSkipFiles) && item->isFile()) return item;
  if ((m_options & eSkipDirectories) && item->isDirectory()) return item;
  if ((m_options & eSkipHidden) && item->isInvisible()) return item;
  if ((m_options & eOnlyFilesAndDirectories) && !item->isFile() && !item->isDirectory()) return item;
  accepted = true;
  return item;
}

BaseFile* DirectoryStructureEnumerator::getNextDirectoryItem()
{
  for (;;) {
    // Refused entries are dropped at once: a long walk keeps no temporaries.
    BaseAutorelease pool;
    bool accepted = false;
    BaseFile* item = _getNextDirectoryItem(accepted);
    if (!item) return nullptr;
    if (accepted) {
      item->retain();
      item->autorelease(1);
      return item;
    }
  }
}

BaseString* DirectoryStructureEnumerator::getNextDirectoryItemPath()
{
  BaseFile* item = getNextDirectoryItem();
  return item ? item->getFilePath() : nullptr;
}

BaseDictionary* DirectoryStructureEnumerator::getNextDirectoryItemAttributes()
{
  BaseFile* item = getNextDirectoryItem();
  return item ? item->getFileAttributes() : nullptr;
}
