#include "entry/update_client.h"

namespace marvostell {

CUpdateClient::CUpdateClient()
    : m_strServer("update.marvostell.example"),
      m_strObject("/update/update.ini"),
      m_pBuffer(new BYTE[kTransferBufferSize]),
      m_nBufferSize(kTransferBufferSize) {}

CUpdateClient::~CUpdateClient() {
    delete[] m_pBuffer;
    m_pBuffer = nullptr;
    // The strings are released after this body, in reverse order of declaration.
}

DWORD CUpdateClient::ReadValue(const char *section, const char *key, const char *defaultValue,
                               char (&value)[kValueBufferSize]) const {
    return GetPrivateProfileStringA(section, key, defaultValue, value, kValueBufferSize,
                                    m_strLocalIni.c_str());
}

}  // namespace marvostell
