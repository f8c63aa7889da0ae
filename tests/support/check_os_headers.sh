#!/bin/sh
# Keeps the system's own headers and system #ifdefs in src/platform: every other file of the
# core and of the command-line programs reaches the system through the platform interfaces.
# usage: check_os_headers.sh SOURCE_ROOT
cd "${1:-.}" || exit 2
headers='windows|winsock2?|ws2tcpip|iphlpapi|mswsock|winreg|io|conio|direct|process|unistd|poll|fcntl|termios|signal|csignal|ifaddrs|pwd|grp|dirent|dlfcn|pthread|sys/[a-z_]+|netinet/[a-z_]+|arpa/[a-z_]+|net/[a-z_]+'
found=$(grep -rnE --include='*.h' --include='*.cpp' \
          -e "^[[:space:]]*#[[:space:]]*include[[:space:]]*<($headers)(\.h)?>" \
          -e '^[[:space:]]*#[[:space:]]*(if|ifdef|ifndef|elif).*(_WIN32|_WIN64|__linux__|__unix__|__MINGW|__APPLE__|_MSC_VER)' \
          src tools/cli tools/router_sim | grep -v '^src/platform/')
if [ -n "$found" ]; then
  echo "system headers or system #ifdefs outside src/platform:"
  echo "$found"
  exit 1
fi
