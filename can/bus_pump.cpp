// implemented by the can/ work
