#pragma once
// The SIM card of the simulated modem: presence, PIN lock with its attempt
// counter, PUK lock after the last wrong PIN, and a card that blocks for
// good after the last wrong PUK. The counters live on the card, so they
// survive power cycles of the modem; the unlocked state does not.

#include <optional>
#include <string>

class CSimCard {
public:
    enum class EState { Absent, PinRequired, PukRequired, Ready, Blocked };
    enum class EEntry { Accepted, Wrong, NotExpected };

    static constexpr int kPinAttempts = 3;
    static constexpr int kPukAttempts = 10;

    CSimCard(bool present, std::optional<std::string> pin, std::string puk, int pinAttempts, int pukAttempts);

    EState State() const { return mState; }
    int PinAttemptsLeft() const { return mPinLeft; }
    int PukAttemptsLeft() const { return mPukLeft; }

    // The card loses power (modem off, radio function minimum): a PIN lock
    // applies again at the next PowerUp.
    void PowerDown();
    void PowerUp();

    // AT+CPIN=<pin> while the PIN is required.
    EEntry EnterPin(const std::string& pin);
    // AT+CPIN=<puk>,<new pin> while the PUK is required; the new PIN
    // replaces the old one and resets the PIN counter.
    EEntry EnterPuk(const std::string& puk, const std::string& newPin);


private:
    EState LockedState() const;

    bool mPresent;
    bool mPowered = false;
    bool mUnlocked = false;
    std::optional<std::string> mPin;
    std::string mPuk;
    int mPinLeft;
    int mPukLeft;
    EState mState = EState::Absent;
};
