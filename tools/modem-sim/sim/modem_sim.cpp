// simulated modem
