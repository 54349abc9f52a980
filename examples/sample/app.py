import os


def main():
    # TODO: read the configuration from the environment as well as from the command line flags
    path = os.environ.get("APP_CONFIG", "app.toml")   
	return path
