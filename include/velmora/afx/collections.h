// CStringArray and CStringList, the framework's string collections.
#pragma once

#include <velmora/afx/object.h>
#include <velmora/afx/string.h>
#include <velmora/export.h>
#include <velmora/win32.h>

// An opaque iteration position in a list.
struct __POSITION {};
typedef __POSITION *POSITION;

// Index errors throw CInvalidArgException*, allocation failure CMemoryException*.
class VLX_API CStringArray : public CObject {
  DECLARE_DYNCREATE(CStringArray)
public:
  CStringArray() noexcept;
  ~CStringArray() override;

  INT_PTR GetSize() const noexcept { return m_nSize; }
  INT_PTR GetCount() const noexcept { return m_nSize; }
  BOOL IsEmpty() const noexcept { return m_nSize == 0; }
  INT_PTR GetUpperBound() const noexcept { return m_nSize - 1; }
  // nGrowBy > 0 fixes the growth step; -1 keeps the current one; 0 grows geometrically.
  void SetSize(INT_PTR nNewSize, INT_PTR nGrowBy = -1);
  void FreeExtra();
  void RemoveAll() noexcept;

  const CString &GetAt(INT_PTR nIndex) const;
  void SetAt(INT_PTR nIndex, LPCTSTR newElement);
  void SetAt(INT_PTR nIndex, const CString &newElement);
  CString &ElementAt(INT_PTR nIndex);
  const CString *GetData() const noexcept { return m_pData; }
  CString *GetData() noexcept { return m_pData; }

  void SetAtGrow(INT_PTR nIndex, LPCTSTR newElement);
  void SetAtGrow(INT_PTR nIndex, const CString &newElement);
  INT_PTR Add(LPCTSTR newElement);
  INT_PTR Add(const CString &newElement);
  INT_PTR Append(const CStringArray &src);
  void Copy(const CStringArray &src);

  const CString &operator[](INT_PTR nIndex) const { return GetAt(nIndex); }
  CString &operator[](INT_PTR nIndex) { return ElementAt(nIndex); }

  // Inserting past the end grows the array with empty strings first.
  void InsertAt(INT_PTR nIndex, LPCTSTR newElement, INT_PTR nCount = 1);
  void InsertAt(INT_PTR nIndex, const CString &newElement, INT_PTR nCount = 1);
  void InsertAt(INT_PTR nStartIndex, const CStringArray *pNewArray);
  void RemoveAt(INT_PTR nIndex, INT_PTR nCount = 1);

protected:
  CString *m_pData;
  INT_PTR m_nSize;
  INT_PTR m_nMaxSize;
  INT_PTR m_nGrowBy;

private:
  void reserve(INT_PTR nMinSize);
  void insertGap(INT_PTR nIndex, INT_PTR nCount);
  void setAtGrow(INT_PTR nIndex, LPCTSTR lpch, int nLength);
  void insertAt(INT_PTR nIndex, LPCTSTR lpch, int nLength, INT_PTR nCount);
};

// Positions stay valid until their own element is removed, so removing the element just
// returned by GetNext while iterating is safe.
class VLX_API CStringList : public CObject {
  DECLARE_DYNCREATE(CStringList)
public:
  explicit CStringList(INT_PTR nBlockSize = 10) noexcept;
  ~CStringList() override;

  INT_PTR GetCount() const noexcept { return m_nCount; }
  INT_PTR GetSize() const noexcept { return m_nCount; }
  BOOL IsEmpty() const noexcept { return m_nCount == 0; }

  // On an empty list these throw CInvalidArgException*.
  CString &GetHead();
  const CString &GetHead() const;
  CString &GetTail();
  const CString &GetTail() const;
  CString RemoveHead();
  CString RemoveTail();

  POSITION AddHead(LPCTSTR newElement);
  POSITION AddHead(const CString &newElement);
  POSITION AddTail(LPCTSTR newElement);
  POSITION AddTail(const CString &newElement);
  void AddHead(CStringList *pNewList);
  void AddTail(CStringList *pNewList);
  void RemoveAll() noexcept;

  POSITION GetHeadPosition() const noexcept;
  POSITION GetTailPosition() const noexcept;
  CString &GetNext(POSITION &rPosition);
  const CString &GetNext(POSITION &rPosition) const;
  CString &GetPrev(POSITION &rPosition);
  const CString &GetPrev(POSITION &rPosition) const;

  CString &GetAt(POSITION position);
  const CString &GetAt(POSITION position) const;
  void SetAt(POSITION pos, LPCTSTR newElement);
  void SetAt(POSITION pos, const CString &newElement);
  void RemoveAt(POSITION position);

  // A NULL position inserts at the head (before) or the tail (after).
  POSITION InsertBefore(POSITION position, LPCTSTR newElement);
  POSITION InsertBefore(POSITION position, const CString &newElement);
  POSITION InsertAfter(POSITION position, LPCTSTR newElement);
  POSITION InsertAfter(POSITION position, const CString &newElement);

  // Case-sensitive; the search begins after startAfter, or at the head when it is NULL.
  POSITION Find(LPCTSTR searchValue, POSITION startAfter = nullptr) const;
  POSITION FindIndex(INT_PTR nIndex) const;

protected:
  struct CNode {
    CNode *pNext;
    CNode *pPrev;
    CString data;
  };
  CNode *m_pNodeHead;
  CNode *m_pNodeTail;
  INT_PTR m_nCount;
  INT_PTR m_nBlockSize;

private:
  CNode *newNode(CNode *pPrev, CNode *pNext, LPCTSTR lpch, int nLength);
  POSITION insertNode(CNode *pPrev, CNode *pNext, LPCTSTR lpch, int nLength);
  static CNode *nodeAt(POSITION position);
};
