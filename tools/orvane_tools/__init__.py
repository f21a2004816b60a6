"""Front doors around the Orvane module: command-line front end, job-announcement service, demo."""
