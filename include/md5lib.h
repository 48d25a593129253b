// MD5 digest (RFC 1321) behind the IMd5 interface.
#pragma once

#include "typedef.h"

typedef struct tagCONTEXT_MD5
{
    ULONG ulNumberOfBits[2];
    BYTE uchMessageDigest[16];
    BYTE uchInputBuffer[64];
    ULONG ulOutputBuffer[4];
} CONTEXT_MD5, *P_CONTEXT_MD5;

// File source for the path forms of CMd5, implemented by the caller.
class IFileWrap
{
public:
    virtual int Open(const char* pcszPath, int iFlags, int iMode) = 0;
    virtual int Read(int iHandle, void* pvBuffer, unsigned int uiCount) = 0;
    virtual int Close(int iHandle) = 0;

protected:
    ~IFileWrap() = default;
};

class IMd5
{
public:
    virtual int CalculateMD5(const BYTE* pcuchInputBuffer, ULONG ulInputBufferLength,
                             BYTE* puchMessageDigest) = 0;
    virtual int CalculateMD5(const char* pcszInputFilePath, BYTE* puchMessageDigest) = 0;
    virtual int ValidateMD5(const BYTE* pcuchInputBuffer, ULONG ulInputBufferLength,
                            const BYTE* pcuchMessageDigest, int* piIsValid) = 0;
    virtual int ValidateMD5(const char* pcszInputFilePath, const BYTE* pcuchMessageDigest,
                            int* piIsValid) = 0;
    virtual int InitMD5(P_CONTEXT_MD5 pContextMD5) = 0;
    virtual int UpdateMD5(P_CONTEXT_MD5 pContextMD5, const BYTE* pcuchMessageBuffer,
                          ULONG ulMessageBufferLength) = 0;
    virtual int FinalMD5(P_CONTEXT_MD5 pContextMD5) = 0;
    virtual int TransformMD5(ULONG* pulInBuffer, ULONG* pulOutBuffer) = 0;

protected:
    // No virtual destructor by design: a CMd5 is destroyed as a CMd5.
    ~IMd5() = default;
};

// Programs of the agent derive from CMd5 to change what its operations
// compute; its virtual destructor makes deleting such an object through a
// CMd5 pointer complete. IMd5 itself stays without one.
class CMd5 : public IMd5
{
public:
    CMd5();
    virtual ~CMd5();

    int CalculateMD5(const BYTE* pcuchInputBuffer, ULONG ulInputBufferLength,
                     BYTE* puchMessageDigest) override;
    int CalculateMD5(const char* pcszInputFilePath, BYTE* puchMessageDigest) override;
    int ValidateMD5(const BYTE* pcuchInputBuffer, ULONG ulInputBufferLength,
                    const BYTE* pcuchMessageDigest, int* piIsValid) override;
    int ValidateMD5(const char* pcszInputFilePath, const BYTE* pcuchMessageDigest,
                    int* piIsValid) override;
    int InitMD5(P_CONTEXT_MD5 pContextMD5) override;
    int UpdateMD5(P_CONTEXT_MD5 pContextMD5, const BYTE* pcuchMessageBuffer,
                  ULONG ulMessageBufferLength) override;
    int FinalMD5(P_CONTEXT_MD5 pContextMD5) override;
    int TransformMD5(ULONG* pulInBuffer, ULONG* pulOutBuffer) override;

    BOOL InitFileWrap(IFileWrap* pFileWrap);
    BOOL DeInitFileWrap();

private:
    IFileWrap* m_pFileWrap;
};
