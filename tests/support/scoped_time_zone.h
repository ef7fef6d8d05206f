#pragma once
// A test body's time zone: TZ set to a fixed zone while the object lives, the old one back after.

#include <cstdlib>
#include <ctime>
#include <string>

class ScopedTimeZone {
  public:
    explicit ScopedTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            m_hadOld = true;
            m_old = old;
        }
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (m_hadOld)
            setenv("TZ", m_old.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

  private:
    bool m_hadOld = false;
    std::string m_old;
};
