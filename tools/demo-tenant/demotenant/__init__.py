"""The demo tenant: a local stand-in for Ashgrove's sign-in chain and Workday tenant."""
