// The front end lands here.
