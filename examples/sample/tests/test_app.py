from app import main


def test_main_returns_the_default_configuration_path_when_the_environment_variable_is_not_set_at_all():
    assert main() == "app.toml"  # TODO: also cover the case where APP_CONFIG is set
