// The functions of PostgreSQL's client library (libpq) that the store uses, as one table. On
// Linux the library is loaded when a server is first used (pq_api_dlopen.cpp): a program that
// never names a server never maps it, nor what it brings along (Kerberos, LDAP, GnuTLS, SASL).
// On Windows it is linked into the program (pq_api_linked.cpp; scripts/db-mingw).
//
// Threads: LoadPq may be called from any thread; the table never changes once loaded.
#pragma once

#include <libpq-fe.h>

#include <string>

namespace lovar {

#define LOVAR_PQ_FUNCTIONS(X)  \
  X(PQclear)                   \
  X(PQcmdTuples)               \
  X(PQconnectPoll)             \
  X(PQconnectStartParams)      \
  X(PQconnectionNeedsPassword) \
  X(PQconninfoFree)            \
  X(PQconninfoParse)           \
  X(PQerrorMessage)            \
  X(PQexec)                    \
  X(PQexecParams)              \
  X(PQfinish)                  \
  X(PQfreemem)                 \
  X(PQgetisnull)               \
  X(PQgetlength)               \
  X(PQgetvalue)                \
  X(PQhost)                    \
  X(PQntuples)                 \
  X(PQresultErrorField)        \
  X(PQresultStatus)            \
  X(PQserverVersion)           \
  X(PQsetErrorVerbosity)       \
  X(PQsetNoticeProcessor)      \
  X(PQsocket)                  \
  X(PQsslInUse)                \
  X(PQstatus)

struct PqApi {
#define LOVAR_PQ_FIELD(name) decltype(&::name) name = nullptr;
  LOVAR_PQ_FUNCTIONS(LOVAR_PQ_FIELD)
#undef LOVAR_PQ_FIELD
};

// The table, loaded on the first call. Null when the library cannot be had; why then says so
// in Russian, and how to mend it.
const PqApi* LoadPq(std::string& why);

}  // namespace lovar
