#pragma once
// Where the transfer engine gets user names and passwords for servers, proxies
// and network shares. One provider exists per process; the download manager
// hands it to every transfer.
#include <string>

namespace prereq {

class CredentialsProvider {
 public:
  virtual ~CredentialsProvider() = default;
  // Called before each connect and each send of a request.
  virtual void Begin() = 0;
  // Credentials known without asking (for example entered earlier in this run).
  virtual bool StoredCredentials(std::wstring& user, std::wstring& password) = 0;
  // What a prompt shows: the location, the text after "at" (the realm, "FTP
  // Server" or "Local Network Server"), and a server name that replaces the
  // URL's host (the proxy's name for a proxy; empty otherwise).
  virtual void SetUrl(const std::wstring& url) = 0;
  virtual void SetDescription(const std::wstring& description) = 0;
  virtual void SetServerName(const std::wstring& serverName) = 0;
  // Credentials the user entered after the prompt; false when none were.
  virtual bool EnteredCredentials(std::wstring& user, std::wstring& password) = 0;
  // Called once the credentials were handed to the connection.
  virtual void End() = 0;
};

}  // namespace prereq
