// One Setup of a product at a time, for all users, until its removal has
// ended: a mutex named after the Title, in a private namespace where Windows
// offers one.
#pragma once

// Takes the lock for the wizard and the uninstall request, which the
// uninstall copy inherits. False (after the message) when another Setup
// holds it, also one that this user may not open (an elevated one).
bool OnlySetupOfProduct();
// The uninstall copy, at its start and again once its request has ended: a
// private namespace goes with the process that made it, so the copy opens
// it while the request runs and makes it again (with its mutex) when it has
// gone, and holds both until it ends. False when they cannot be had (another
// Setup's, made in between, that this copy cannot open): the copy then
// leaves what it has not removed yet. Where there is no private namespace,
// the inherited handle keeps the mutex's name alive.
bool KeepSetupLock();
