#include "tools/modemsim/simcard.h"

#include <utility>

CSimCard::CSimCard(bool present, std::optional<std::string> pin, std::string puk, int pinAttempts, int pukAttempts)
    : mPresent(present)
    , mPin(std::move(pin))
    , mPuk(std::move(puk))
    , mPinLeft(pinAttempts)
    , mPukLeft(pukAttempts)
{
}

CSimCard::EState CSimCard::LockedState() const
{
    if (!mPresent || !mPowered) {
        return EState::Absent;
    }
    if (mPukLeft <= 0) {
        return EState::Blocked;
    }
    if (mPinLeft <= 0) {
        return EState::PukRequired;
    }
    if (mPin && !mUnlocked) {
        return EState::PinRequired;
    }
    return EState::Ready;
}

void CSimCard::PowerDown()
{
    mPowered = false;
    mUnlocked = false;
    mState = LockedState();
}

void CSimCard::PowerUp()
{
    mPowered = true;
    mUnlocked = false;
    mState = LockedState();
}

CSimCard::EEntry CSimCard::EnterPin(const std::string& pin)
{
    if (mState != EState::PinRequired) {
        return EEntry::NotExpected;
    }
    if (pin == *mPin) {
        mPinLeft = kPinAttempts;
        mUnlocked = true;
        mState = LockedState();
        return EEntry::Accepted;
    }
    --mPinLeft;
    mState = LockedState();
    return EEntry::Wrong;
}

CSimCard::EEntry CSimCard::EnterPuk(const std::string& puk, const std::string& newPin)
{
    if (mState != EState::PukRequired) {
        return EEntry::NotExpected;
    }
    if (puk == mPuk) {
        mPukLeft = kPukAttempts;
        mPinLeft = kPinAttempts;
        mPin = newPin;
        mUnlocked = true;
        mState = LockedState();
        return EEntry::Accepted;
    }
    --mPukLeft;
    mState = LockedState();
    return EEntry::Wrong;
}
