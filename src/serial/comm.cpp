// Placeholder until the reader and the OS layer land: every open fails.
#include "serial/comm.h"

const CRuntimeClass CComm::classCComm{"CComm", &CObject::classCObject};

struct CComm::Impl {};

CComm::CComm() = default;
CComm::CComm(std::shared_ptr<serial::Platform> /*platform*/) {}
CComm::~CComm() = default;
void CComm::SetPortSettings(uint8_t port, uint32_t baudRate, uint8_t byteSize, uint8_t parity,
                            uint8_t stopBits) {
  m_nPort = port;
  m_dwBaudRate = baudRate;
  m_nByteSize = byteSize;
  m_nParity = parity;
  m_nStopBits = stopBits;
}
void CComm::SetNotifyWindow(serial::NotifyTarget* window) { m_hNotifyWnd = window; }
BOOL CComm::CreateIoEvents() { return 1; }
BOOL CComm::OpenPort() { return 0; }
BOOL CComm::WritePort(const uint8_t*, uint32_t) { return 0; }
BOOL CComm::ClosePort() { return 1; }
BOOL CComm::HasRxData() const { return m_nRxWrite != m_nRxRead; }
uint8_t CComm::GetRxByte() { return m_rxRing[m_nRxRead++ & 0x3FF]; }
std::string CComm::DeviceName(uint8_t port) { return port > 200 ? "TELNET" : "COM" + std::to_string(port); }
std::string CComm::DevicePath(uint8_t port) { return "/dev/ttyS" + std::to_string(port - 1); }
