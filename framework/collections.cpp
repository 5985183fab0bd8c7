// CStringArray and CStringList.
#include <velmora/afx/collections.h>
#include <velmora/afx/exception.h>

#include "framework/alloc.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

// std::min and std::max are parenthesised: <windows.h> may define them as macros.

namespace {

int lengthOf(LPCTSTR lpsz) {
  if (lpsz == nullptr)
    return 0;
  size_t n = std::strlen(lpsz);
  if (n >= static_cast<size_t>(INT_MAX))
    AfxThrowMemoryException();
  return static_cast<int>(n);
}

// A block of `capacity` strings holding the `count` strings of `old`, which is freed.
CString *moveToNewBlock(CString *old, INT_PTR count, INT_PTR capacity) {
  auto *fresh = static_cast<CString *>(
      vlx::detail::allocateOrThrow(static_cast<size_t>(capacity) * sizeof(CString), false));
  for (INT_PTR i = 0; i < count; ++i) {
    new (&fresh[i]) CString(std::move(old[i]));
    old[i].~CString();
  }
  vlx::detail::deallocate(old);
  return fresh;
}

} // namespace

// ---- CStringArray

IMPLEMENT_DYNCREATE(CStringArray, CObject)

CStringArray::CStringArray() noexcept : m_pData(nullptr), m_nSize(0), m_nMaxSize(0), m_nGrowBy(0) {}

CStringArray::~CStringArray() { RemoveAll(); }

void CStringArray::RemoveAll() noexcept {
  for (INT_PTR i = 0; i < m_nSize; ++i)
    m_pData[i].~CString();
  vlx::detail::deallocate(m_pData);
  m_pData = nullptr;
  m_nSize = 0;
  m_nMaxSize = 0;
}

// Moving a CString only hands its buffer over, so pointers to the characters of elements stay
// valid across growth; references to the elements themselves do not.
void CStringArray::reserve(INT_PTR nMinSize) {
  if (nMinSize <= m_nMaxSize)
    return;
  constexpr INT_PTR kMaxElements = INTPTR_MAX / static_cast<INT_PTR>(sizeof(CString));
  if (nMinSize > kMaxElements)
    AfxThrowMemoryException();
  INT_PTR step = m_nGrowBy > 0 ? m_nGrowBy : (std::max<INT_PTR>)(4, m_nMaxSize / 2);
  INT_PTR newMax = (std::max)(nMinSize, (std::min)(kMaxElements, m_nMaxSize + step));
  m_pData = moveToNewBlock(m_pData, m_nSize, newMax);
  m_nMaxSize = newMax;
}

void CStringArray::SetSize(INT_PTR nNewSize, INT_PTR nGrowBy) {
  if (nNewSize < 0)
    AfxThrowInvalidArgException();
  if (nGrowBy >= 0)
    m_nGrowBy = nGrowBy;
  if (nNewSize == 0) {
    RemoveAll();
    return;
  }
  reserve(nNewSize);
  for (INT_PTR i = m_nSize; i < nNewSize; ++i)
    new (&m_pData[i]) CString();
  for (INT_PTR i = nNewSize; i < m_nSize; ++i)
    m_pData[i].~CString();
  m_nSize = nNewSize;
}

void CStringArray::FreeExtra() {
  if (m_nSize == m_nMaxSize)
    return;
  if (m_nSize == 0) {
    RemoveAll();
    return;
  }
  m_pData = moveToNewBlock(m_pData, m_nSize, m_nSize);
  m_nMaxSize = m_nSize;
}

const CString &CStringArray::GetAt(INT_PTR nIndex) const {
  if (nIndex < 0 || nIndex >= m_nSize)
    AfxThrowInvalidArgException();
  return m_pData[nIndex];
}

CString &CStringArray::ElementAt(INT_PTR nIndex) {
  if (nIndex < 0 || nIndex >= m_nSize)
    AfxThrowInvalidArgException();
  return m_pData[nIndex];
}

void CStringArray::SetAt(INT_PTR nIndex, LPCTSTR newElement) { ElementAt(nIndex) = newElement; }

void CStringArray::SetAt(INT_PTR nIndex, const CString &newElement) {
  ElementAt(nIndex) = newElement;
}

// The source is taken as characters because it may be an element that growth moves.
void CStringArray::setAtGrow(INT_PTR nIndex, LPCTSTR lpch, int nLength) {
  if (nIndex < 0)
    AfxThrowInvalidArgException();
  if (nIndex >= m_nSize) {
    reserve(nIndex + 1);
    for (INT_PTR i = m_nSize; i < nIndex; ++i)
      new (&m_pData[i]) CString();
    new (&m_pData[nIndex]) CString(lpch, nLength);
    m_nSize = nIndex + 1;
    return;
  }
  m_pData[nIndex] = CString(lpch, nLength);
}

void CStringArray::SetAtGrow(INT_PTR nIndex, LPCTSTR newElement) {
  setAtGrow(nIndex, newElement, lengthOf(newElement));
}

void CStringArray::SetAtGrow(INT_PTR nIndex, const CString &newElement) {
  setAtGrow(nIndex, newElement, newElement.GetLength());
}

INT_PTR CStringArray::Add(LPCTSTR newElement) {
  INT_PTR index = m_nSize;
  setAtGrow(index, newElement, lengthOf(newElement));
  return index;
}

INT_PTR CStringArray::Add(const CString &newElement) {
  INT_PTR index = m_nSize;
  setAtGrow(index, newElement, newElement.GetLength());
  return index;
}

INT_PTR CStringArray::Append(const CStringArray &src) {
  INT_PTR oldSize = m_nSize;
  INT_PTR count = src.m_nSize;
  reserve(oldSize + count);
  // src may be this array: its elements are read after the growth, from their new place.
  for (INT_PTR i = 0; i < count; ++i) {
    new (&m_pData[oldSize + i]) CString(src.m_pData[i]);
    ++m_nSize;
  }
  return oldSize;
}

void CStringArray::Copy(const CStringArray &src) {
  if (&src == this)
    return;
  SetSize(src.m_nSize);
  for (INT_PTR i = 0; i < m_nSize; ++i)
    m_pData[i] = src.m_pData[i];
}

// Opens nCount default (empty) slots at nIndex, growing the array when nIndex is past its end.
void CStringArray::insertGap(INT_PTR nIndex, INT_PTR nCount) {
  if (nIndex >= m_nSize) {
    SetSize(nIndex + nCount);
    return;
  }
  INT_PTR oldSize = m_nSize;
  SetSize(oldSize + nCount);
  std::move_backward(m_pData + nIndex, m_pData + oldSize, m_pData + oldSize + nCount);
}

void CStringArray::insertAt(INT_PTR nIndex, LPCTSTR lpch, int nLength, INT_PTR nCount) {
  if (nIndex < 0 || nCount < 0)
    AfxThrowInvalidArgException();
  if (nCount == 0)
    return;
  // The characters survive the shuffle: they belong to an element outside the gap, if any.
  insertGap(nIndex, nCount);
  for (INT_PTR i = nIndex; i < nIndex + nCount; ++i)
    m_pData[i] = CString(lpch, nLength);
}

void CStringArray::InsertAt(INT_PTR nIndex, LPCTSTR newElement, INT_PTR nCount) {
  insertAt(nIndex, newElement, lengthOf(newElement), nCount);
}

void CStringArray::InsertAt(INT_PTR nIndex, const CString &newElement, INT_PTR nCount) {
  insertAt(nIndex, newElement, newElement.GetLength(), nCount);
}

void CStringArray::InsertAt(INT_PTR nStartIndex, const CStringArray *pNewArray) {
  if (pNewArray == nullptr || nStartIndex < 0)
    AfxThrowInvalidArgException();
  if (pNewArray == this) {
    CStringArray copy;
    copy.Copy(*this);
    InsertAt(nStartIndex, &copy);
    return;
  }
  INT_PTR count = pNewArray->m_nSize;
  if (count == 0)
    return;
  insertGap(nStartIndex, count);
  for (INT_PTR i = 0; i < count; ++i)
    m_pData[nStartIndex + i] = pNewArray->m_pData[i];
}

void CStringArray::RemoveAt(INT_PTR nIndex, INT_PTR nCount) {
  if (nIndex < 0 || nCount < 0 || nIndex > m_nSize || nCount > m_nSize - nIndex)
    AfxThrowInvalidArgException();
  std::move(m_pData + nIndex + nCount, m_pData + m_nSize, m_pData + nIndex);
  for (INT_PTR i = m_nSize - nCount; i < m_nSize; ++i)
    m_pData[i].~CString();
  m_nSize -= nCount;
}

// ---- CStringList

IMPLEMENT_DYNCREATE(CStringList, CObject)

CStringList::CStringList(INT_PTR nBlockSize) noexcept
    : m_pNodeHead(nullptr), m_pNodeTail(nullptr), m_nCount(0), m_nBlockSize(nBlockSize) {}

CStringList::~CStringList() { RemoveAll(); }

CStringList::CNode *CStringList::nodeAt(POSITION position) {
  if (position == nullptr)
    AfxThrowInvalidArgException();
  return reinterpret_cast<CNode *>(position);
}

CStringList::CNode *CStringList::newNode(CNode *pPrev, CNode *pNext, LPCTSTR lpch, int nLength) {
  void *raw = vlx::detail::allocateOrThrow(sizeof(CNode), false);
  try {
    return new (raw) CNode{pNext, pPrev, CString(lpch, nLength)};
  } catch (...) {
    vlx::detail::deallocate(raw);
    throw;
  }
}

POSITION CStringList::insertNode(CNode *pPrev, CNode *pNext, LPCTSTR lpch, int nLength) {
  CNode *node = newNode(pPrev, pNext, lpch, nLength);
  (pPrev != nullptr ? pPrev->pNext : m_pNodeHead) = node;
  (pNext != nullptr ? pNext->pPrev : m_pNodeTail) = node;
  ++m_nCount;
  return reinterpret_cast<POSITION>(node);
}

void CStringList::RemoveAll() noexcept {
  for (CNode *node = m_pNodeHead; node != nullptr;) {
    CNode *next = node->pNext;
    node->~CNode();
    vlx::detail::deallocate(node);
    node = next;
  }
  m_pNodeHead = m_pNodeTail = nullptr;
  m_nCount = 0;
}

CString &CStringList::GetHead() {
  if (m_pNodeHead == nullptr)
    AfxThrowInvalidArgException();
  return m_pNodeHead->data;
}

const CString &CStringList::GetHead() const { return const_cast<CStringList *>(this)->GetHead(); }

CString &CStringList::GetTail() {
  if (m_pNodeTail == nullptr)
    AfxThrowInvalidArgException();
  return m_pNodeTail->data;
}

const CString &CStringList::GetTail() const { return const_cast<CStringList *>(this)->GetTail(); }

CString CStringList::RemoveHead() {
  CString value = std::move(GetHead());
  RemoveAt(reinterpret_cast<POSITION>(m_pNodeHead));
  return value;
}

CString CStringList::RemoveTail() {
  CString value = std::move(GetTail());
  RemoveAt(reinterpret_cast<POSITION>(m_pNodeTail));
  return value;
}

POSITION CStringList::AddHead(LPCTSTR newElement) {
  return insertNode(nullptr, m_pNodeHead, newElement, lengthOf(newElement));
}

POSITION CStringList::AddHead(const CString &newElement) {
  return insertNode(nullptr, m_pNodeHead, newElement, newElement.GetLength());
}

POSITION CStringList::AddTail(LPCTSTR newElement) {
  return insertNode(m_pNodeTail, nullptr, newElement, lengthOf(newElement));
}

POSITION CStringList::AddTail(const CString &newElement) {
  return insertNode(m_pNodeTail, nullptr, newElement, newElement.GetLength());
}

// Both keep the order of the added list; the count is taken first so a list may add itself.
void CStringList::AddHead(CStringList *pNewList) {
  if (pNewList == nullptr)
    AfxThrowInvalidArgException();
  CNode *node = pNewList->m_pNodeTail;
  for (INT_PTR n = pNewList->m_nCount; n > 0; --n, node = node->pPrev)
    AddHead(node->data);
}

void CStringList::AddTail(CStringList *pNewList) {
  if (pNewList == nullptr)
    AfxThrowInvalidArgException();
  CNode *node = pNewList->m_pNodeHead;
  for (INT_PTR n = pNewList->m_nCount; n > 0; --n, node = node->pNext)
    AddTail(node->data);
}

POSITION CStringList::GetHeadPosition() const noexcept {
  return reinterpret_cast<POSITION>(m_pNodeHead);
}

POSITION CStringList::GetTailPosition() const noexcept {
  return reinterpret_cast<POSITION>(m_pNodeTail);
}

CString &CStringList::GetNext(POSITION &rPosition) {
  CNode *node = nodeAt(rPosition);
  rPosition = reinterpret_cast<POSITION>(node->pNext);
  return node->data;
}

const CString &CStringList::GetNext(POSITION &rPosition) const {
  return const_cast<CStringList *>(this)->GetNext(rPosition);
}

CString &CStringList::GetPrev(POSITION &rPosition) {
  CNode *node = nodeAt(rPosition);
  rPosition = reinterpret_cast<POSITION>(node->pPrev);
  return node->data;
}

const CString &CStringList::GetPrev(POSITION &rPosition) const {
  return const_cast<CStringList *>(this)->GetPrev(rPosition);
}

CString &CStringList::GetAt(POSITION position) { return nodeAt(position)->data; }

const CString &CStringList::GetAt(POSITION position) const { return nodeAt(position)->data; }

void CStringList::SetAt(POSITION pos, LPCTSTR newElement) { nodeAt(pos)->data = newElement; }

void CStringList::SetAt(POSITION pos, const CString &newElement) { nodeAt(pos)->data = newElement; }

void CStringList::RemoveAt(POSITION position) {
  CNode *node = nodeAt(position);
  (node->pPrev != nullptr ? node->pPrev->pNext : m_pNodeHead) = node->pNext;
  (node->pNext != nullptr ? node->pNext->pPrev : m_pNodeTail) = node->pPrev;
  node->~CNode();
  vlx::detail::deallocate(node);
  --m_nCount;
}

POSITION CStringList::InsertBefore(POSITION position, LPCTSTR newElement) {
  if (position == nullptr)
    return AddHead(newElement);
  CNode *node = nodeAt(position);
  return insertNode(node->pPrev, node, newElement, lengthOf(newElement));
}

POSITION CStringList::InsertBefore(POSITION position, const CString &newElement) {
  if (position == nullptr)
    return AddHead(newElement);
  CNode *node = nodeAt(position);
  return insertNode(node->pPrev, node, newElement, newElement.GetLength());
}

POSITION CStringList::InsertAfter(POSITION position, LPCTSTR newElement) {
  if (position == nullptr)
    return AddTail(newElement);
  CNode *node = nodeAt(position);
  return insertNode(node, node->pNext, newElement, lengthOf(newElement));
}

POSITION CStringList::InsertAfter(POSITION position, const CString &newElement) {
  if (position == nullptr)
    return AddTail(newElement);
  CNode *node = nodeAt(position);
  return insertNode(node, node->pNext, newElement, newElement.GetLength());
}

POSITION CStringList::Find(LPCTSTR searchValue, POSITION startAfter) const {
  CNode *node = startAfter != nullptr ? nodeAt(startAfter)->pNext : m_pNodeHead;
  for (; node != nullptr; node = node->pNext) {
    if (node->data == searchValue)
      return reinterpret_cast<POSITION>(node);
  }
  return nullptr;
}

POSITION CStringList::FindIndex(INT_PTR nIndex) const {
  if (nIndex < 0 || nIndex >= m_nCount)
    return nullptr;
  CNode *node = m_pNodeHead;
  while (nIndex-- > 0)
    node = node->pNext;
  return reinterpret_cast<POSITION>(node);
}
